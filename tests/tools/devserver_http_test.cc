// The development server's HTTP layer over raw sockets: framing, keep-alive, chunked bodies,
// "Expect: 100-continue", limits, malformed requests, and stopping with connections open.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <string>

#include <gtest/gtest.h>

#include "tools/devserver/HttpServer.h"

namespace loomset::devserver {
namespace {

class Client {
 public:
  explicit Client(int port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    EXPECT_EQ(::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  }
  ~Client() { ::close(fd_); }

  void send(const std::string& bytes) {
    ASSERT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
  }

  // Reads until `marker` has arrived, the peer closes, or 20 seconds pass.
  std::string readUntil(const std::string& marker) {
    while (buffer_.find(marker) == std::string::npos) {
      if (!fill()) break;
    }
    const auto end = buffer_.find(marker);
    if (end == std::string::npos) return std::exchange(buffer_, "");
    std::string out = buffer_.substr(0, end + marker.size());
    buffer_.erase(0, end + marker.size());
    return out;
  }

  // One whole response with a Content-Length body.
  std::string response() {
    std::string head = readUntil("\r\n\r\n");
    const auto at = head.find("Content-Length: ");
    if (at == std::string::npos) return head;
    const std::size_t length = std::stoul(head.substr(at + 16));
    while (buffer_.size() < length && fill()) {
    }
    head += buffer_.substr(0, length);
    buffer_.erase(0, length);
    return head;
  }

  // True when the server closed the connection.
  bool closedByPeer() {
    while (fill()) {
    }
    return closed_;
  }

 private:
  bool fill() {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 20000) <= 0) return false;
    char chunk[4096];
    const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
    if (n <= 0) {
      closed_ = true;
      return false;
    }
    buffer_.append(chunk, static_cast<std::size_t>(n));
    return true;
  }

  int fd_ = -1;
  std::string buffer_;
  bool closed_ = false;
};

// Echoes what it understood of the request.
ServerResponse echo(const ServerRequest& r) {
  return ServerResponse::text(200, r.method + " " + r.path + " ?" + r.query + " [" + r.body + "]");
}

TEST(DevServerHttp, ServesSeveralRequestsOnOneConnection) {
  HttpServer server(0, echo, 1024);
  ASSERT_GT(server.port(), 0);
  Client client(server.port());
  client.send(
      "GET /a?x=1 HTTP/1.1\r\nHost: h\r\n\r\nPOST /b HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello");
  const std::string first = client.response();
  EXPECT_EQ(first.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << first;
  EXPECT_NE(first.find("Connection: keep-alive"), std::string::npos);
  EXPECT_NE(first.find("GET /a ?x=1 []"), std::string::npos) << first;
  EXPECT_NE(client.response().find("POST /b ? [hello]"), std::string::npos);

  client.send("GET /c HTTP/1.1\r\nConnection: close\r\n\r\n");
  const std::string last = client.response();
  EXPECT_NE(last.find("Connection: close"), std::string::npos) << last;
  EXPECT_TRUE(client.closedByPeer());
}

TEST(DevServerHttp, ReadsChunkedBodiesAndAnswersExpectContinue) {
  HttpServer server(0, echo, 1024);
  Client client(server.port());
  client.send(
      "POST /batch HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n"
      "5;ext=1\r\nhello\r\n6\r\n world\r\n0\r\nTrailer: x\r\n\r\n");
  EXPECT_NE(client.response().find("[hello world]"), std::string::npos);

  client.send("POST /batch HTTP/1.1\r\nContent-Length: 3\r\nExpect: 100-continue\r\n\r\n");
  EXPECT_EQ(client.readUntil("\r\n\r\n"), "HTTP/1.1 100 Continue\r\n\r\n");
  client.send("abc");
  EXPECT_NE(client.response().find("[abc]"), std::string::npos);
}

TEST(DevServerHttp, RefusesOversizedAndMalformedRequestsAndCloses) {
  HttpServer server(0, echo, 16);
  const struct {
    std::string request;
    const char* status;
  } cases[] = {
      {"POST / HTTP/1.1\r\nContent-Length: 17\r\n\r\n", "413"},
      {"POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n11\r\n", "413"},
      {"POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n", "400"},
      {"POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nabXX", "400"},
      {"POST / HTTP/1.1\r\nContent-Length: -1\r\n\r\n", "400"},
      {"GET /\r\n\r\n", "400"},
      {"GET / SPDY/3\r\n\r\n", "400"},
      {"GET / HTTP/1.1\r\nno colon here\r\n\r\n", "400"},
      {"GET / HTTP/1.1\r\nX: " + std::string(HttpServer::kMaxHeaderBytes + 10, 'a'), "431"},
  };
  for (const auto& c : cases) {
    Client client(server.port());
    client.send(c.request);
    const std::string answer = client.readUntil("\r\n\r\n");
    EXPECT_EQ(answer.substr(0, 12), std::string("HTTP/1.1 ") + c.status)
        << c.request.substr(0, 80) << " -> " << answer;
    EXPECT_TRUE(client.closedByPeer()) << c.request.substr(0, 80);
  }
  // The server is unharmed.
  Client client(server.port());
  client.send("GET /fine HTTP/1.1\r\n\r\n");
  EXPECT_NE(client.response().find("GET /fine"), std::string::npos);
}

TEST(DevServerHttp, AHandlerThatThrowsAnswers500) {
  HttpServer server(
      0, [](const ServerRequest&) -> ServerResponse { throw std::runtime_error("boom"); }, 16);
  Client client(server.port());
  client.send("GET / HTTP/1.1\r\n\r\n");
  const std::string answer = client.response();
  EXPECT_EQ(answer.substr(0, 12), "HTTP/1.1 500");
  EXPECT_NE(answer.find("boom"), std::string::npos);
}

TEST(DevServerHttp, StopEndsOpenConnectionsAndRefusesNewOnes) {
  std::atomic<int> handled{0};
  auto server = std::make_unique<HttpServer>(
      0,
      [&](const ServerRequest&) {
        ++handled;
        return ServerResponse::text(200, "ok");
      },
      16);
  const int port = server->port();
  Client idle(port);  // connected, never sends
  Client half(port);
  half.send("GET / HTTP/1.1\r\nHost:");  // a request cut short
  Client served(port);
  served.send("GET / HTTP/1.1\r\n\r\n");
  EXPECT_NE(served.response().find("ok"), std::string::npos);

  server->stop();
  EXPECT_TRUE(idle.closedByPeer());
  EXPECT_TRUE(half.closedByPeer());
  EXPECT_TRUE(served.closedByPeer());
  server->stop();  // idempotent
  server.reset();
  EXPECT_EQ(handled, 1);

  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  EXPECT_NE(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ::close(fd);
}

TEST(DevServerHttp, RefusesAPortInUse) {
  HttpServer first(0, echo, 16);
  EXPECT_THROW(HttpServer(first.port(), echo, 16), std::system_error);
}

}  // namespace
}  // namespace loomset::devserver
