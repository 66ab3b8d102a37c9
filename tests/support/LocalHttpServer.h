// A small HTTP/1.1 server on 127.0.0.1 inside the test process, for end-to-end tests of
// everything that speaks HTTP.
//
// Responses are scripted per path (the query is ignored when matching): a fixed response, a
// queue of one-shot responses used in order, or a handler; unknown paths get 404. Every request
// is recorded with its method, target, headers and body (Content-Length or chunked). A response
// can be delayed, or held until the test releases it, to exercise slow servers and
// cancellation, or cut short, with a reset or a close, to exercise broken connections.
// Connections are kept alive unless the client or the response says otherwise.
//
// The server listens from construction and stops in its destructor: open connections are shut,
// held responses are dropped, and every thread is joined.
//
// Threads: all operations are safe from any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace loomset::testing {

class LocalHttpServer {
 public:
  using Headers = std::vector<std::pair<std::string, std::string>>;

  struct Request {
    std::string method;
    std::string target;  // as on the request line: path and query
    std::string path;
    std::string query;  // without the "?"
    std::string version;
    Headers headers;
    std::string body;  // de-chunked
    bool chunked = false;
    std::size_t connection = 0;  // which accepted connection carried it, from 1

    // The first header of that name, compared without regard to case.
    std::optional<std::string> header(std::string_view name) const;
  };

  struct Response {
    int status = 200;
    Headers headers;
    std::string body;
    double delaySeconds = 0;         // waited before answering
    bool holdUntilReleased = false;  // answered only after releaseHeldResponses()
    bool closeConnection = false;    // "Connection: close" and close after answering
    bool chunked = false;            // send the body with chunked transfer encoding
    // Faults: only the first this many bytes of the response (status line, headers and body)
    // are sent, then the connection ends, with a reset when `resetWhenCut` (the client sees
    // "connection reset by peer"), else with an orderly close (a truncated response).
    std::optional<std::size_t> cutAfterBytes;
    bool resetWhenCut = false;

    static Response text(int status, std::string body);
    static Response redirect(int status, std::string location);
  };

  using Handler = std::function<Response(const Request&)>;

  LocalHttpServer();
  ~LocalHttpServer();
  LocalHttpServer(const LocalHttpServer&) = delete;
  LocalHttpServer& operator=(const LocalHttpServer&) = delete;

  int port() const { return port_; }
  // "http://127.0.0.1:<port>"
  std::string baseUrl() const;
  std::string url(const std::string& pathAndQuery) const { return baseUrl() + pathAndQuery; }

  // The response for every request to the path (replacing its handler, and the other way round).
  void setResponse(const std::string& path, Response response);
  // One-shot responses, used in order before the path's fixed response or handler.
  void enqueueResponse(const std::string& path, Response response);
  void setHandler(const std::string& path, Handler handler);
  // For paths without anything scripted; 404 unless set.
  void setDefaultHandler(Handler handler);

  std::vector<Request> requests() const;
  std::size_t requestCount() const;
  // Waits until at least `count` requests have been recorded; false on timeout.
  bool waitForRequests(std::size_t count,
                       std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
  // Lets every held response (present and future ones) be sent.
  void releaseHeldResponses();
  std::size_t acceptedConnections() const;

  // A loopback port that nothing listens on and that no test server can be given.
  static int unusedPort();

 private:
  struct Connection {
    int fd = -1;
    std::thread thread;
    bool finished = false;
  };

  void acceptLoop();
  void serve(int fd, std::size_t connectionNumber);
  Response responseFor(const Request& request);
  // Waits as the response asks; false when the server is stopping.
  bool waitBeforeAnswering(const Response& response);

  int listenFd_ = -1;
  int wakePipe_[2] = {-1, -1};
  int port_ = 0;
  std::thread acceptThread_;

  mutable std::mutex mu_;
  mutable std::condition_variable changed_;
  bool stopping_ = false;
  bool released_ = false;
  std::vector<Request> requests_;
  std::map<std::string, std::deque<Response>> queued_;
  std::map<std::string, Response> fixed_;
  std::map<std::string, Handler> handlers_;
  Handler defaultHandler_;
  std::vector<std::unique_ptr<Connection>> connections_;
};

}  // namespace loomset::testing
