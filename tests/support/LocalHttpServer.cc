#include "support/LocalHttpServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace loomset::testing {

namespace {

constexpr std::size_t kMaxHeadBytes = 64 * 1024;

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
           return std::tolower(x) == std::tolower(y);
         });
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
    s.remove_suffix(1);
  }
  return s;
}

const char* reasonPhrase(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 204:
      return "No Content";
    case 301:
      return "Moved Permanently";
    case 302:
      return "Found";
    case 303:
      return "See Other";
    case 307:
      return "Temporary Redirect";
    case 308:
      return "Permanent Redirect";
    case 400:
      return "Bad Request";
    case 404:
      return "Not Found";
    case 500:
      return "Internal Server Error";
    case 503:
      return "Service Unavailable";
    default:
      return "Status";
  }
}

std::optional<std::string> findHeader(const LocalHttpServer::Headers& headers,
                                      std::string_view name) {
  for (const auto& [key, value] : headers) {
    if (equalsIgnoringCase(key, name)) return value;
  }
  return std::nullopt;
}

// Buffered reading from a socket; every read fails once the socket is shut down.
class Reader {
 public:
  explicit Reader(int fd) : fd_(fd) {}

  // Reads up to and including the next CRLF (or LF); the line without it.
  std::optional<std::string> line(std::size_t limit) {
    for (;;) {
      const auto end = buffer_.find('\n');
      if (end != std::string::npos) {
        std::string out = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        if (!out.empty() && out.back() == '\r') out.pop_back();
        return out;
      }
      if (buffer_.size() > limit || !fill()) return std::nullopt;
    }
  }

  std::optional<std::string> exactly(std::size_t n) {
    while (buffer_.size() < n) {
      if (!fill()) return std::nullopt;
    }
    std::string out = buffer_.substr(0, n);
    buffer_.erase(0, n);
    return out;
  }

 private:
  bool fill() {
    char chunk[16384];
    for (;;) {
      const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
      if (n > 0) {
        buffer_.append(chunk, static_cast<std::size_t>(n));
        return true;
      }
      if (n < 0 && errno == EINTR) continue;
      return false;
    }
  }

  int fd_;
  std::string buffer_;
};

// Ends the connection with a TCP reset: with a zero linger time the socket's last close resets
// it. The descriptor number stays taken (now on /dev/null) until the server closes it.
void resetConnection(int fd) {
  linger immediate{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &immediate, sizeof immediate);
  const int placeholder = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  if (placeholder < 0) return;
  ::dup3(placeholder, fd, O_CLOEXEC);
  ::close(placeholder);
}

bool sendAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

enum class ReadResult { kOk, kClosed, kMalformed };

ReadResult readRequest(Reader& reader, LocalHttpServer::Request& request) {
  std::optional<std::string> first;
  do {  // tolerate stray empty lines between requests
    first = reader.line(kMaxHeadBytes);
    if (!first) return ReadResult::kClosed;
  } while (first->empty());
  const auto sp1 = first->find(' ');
  const auto sp2 = first->rfind(' ');
  if (sp1 == std::string::npos || sp2 == sp1) return ReadResult::kMalformed;
  request.method = first->substr(0, sp1);
  request.target = first->substr(sp1 + 1, sp2 - sp1 - 1);
  request.version = first->substr(sp2 + 1);
  const auto q = request.target.find('?');
  request.path = request.target.substr(0, q);
  request.query = q == std::string::npos ? "" : request.target.substr(q + 1);

  std::size_t headBytes = first->size();
  for (;;) {
    auto line = reader.line(kMaxHeadBytes);
    if (!line) return ReadResult::kMalformed;
    if (line->empty()) break;
    headBytes += line->size();
    if (headBytes > kMaxHeadBytes) return ReadResult::kMalformed;
    const auto colon = line->find(':');
    if (colon == std::string::npos) return ReadResult::kMalformed;
    request.headers.emplace_back(std::string(trim(std::string_view(*line).substr(0, colon))),
                                 std::string(trim(std::string_view(*line).substr(colon + 1))));
  }

  const auto encoding = findHeader(request.headers, "Transfer-Encoding");
  if (encoding && equalsIgnoringCase(*encoding, "chunked")) {
    request.chunked = true;
    for (;;) {
      auto sizeLine = reader.line(1024);
      if (!sizeLine) return ReadResult::kMalformed;
      char* end = nullptr;
      const unsigned long long size = std::strtoull(sizeLine->c_str(), &end, 16);
      if (end == sizeLine->c_str()) return ReadResult::kMalformed;
      if (size == 0) break;
      auto data = reader.exactly(size);
      if (!data || !reader.line(2)) return ReadResult::kMalformed;
      request.body += *data;
    }
    for (;;) {  // trailers
      auto trailer = reader.line(kMaxHeadBytes);
      if (!trailer) return ReadResult::kMalformed;
      if (trailer->empty()) break;
    }
  } else if (const auto length = findHeader(request.headers, "Content-Length")) {
    char* end = nullptr;
    const unsigned long long size = std::strtoull(length->c_str(), &end, 10);
    if (end == length->c_str()) return ReadResult::kMalformed;
    auto data = reader.exactly(size);
    if (!data) return ReadResult::kMalformed;
    request.body = std::move(*data);
  }
  return ReadResult::kOk;
}

}  // namespace

std::optional<std::string> LocalHttpServer::Request::header(std::string_view name) const {
  return findHeader(headers, name);
}

LocalHttpServer::Response LocalHttpServer::Response::text(int status, std::string body) {
  Response r;
  r.status = status;
  r.headers = {{"Content-Type", "text/plain"}};
  r.body = std::move(body);
  return r;
}

LocalHttpServer::Response LocalHttpServer::Response::redirect(int status, std::string location) {
  Response r;
  r.status = status;
  r.headers = {{"Location", std::move(location)}};
  return r;
}

LocalHttpServer::LocalHttpServer() {
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) throw std::runtime_error("LocalHttpServer: socket failed");
  const int one = 1;
  ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listenFd_, 64) != 0) {
    ::close(listenFd_);
    throw std::runtime_error("LocalHttpServer: cannot listen on 127.0.0.1");
  }
  socklen_t length = sizeof address;
  ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  if (::pipe2(wakePipe_, O_CLOEXEC) != 0) {
    ::close(listenFd_);
    throw std::runtime_error("LocalHttpServer: pipe failed");
  }
  acceptThread_ = std::thread([this] { acceptLoop(); });
}

LocalHttpServer::~LocalHttpServer() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stopping_ = true;
    for (auto& c : connections_) {
      if (!c->finished) ::shutdown(c->fd, SHUT_RDWR);
    }
  }
  changed_.notify_all();
  const char wake = 1;
  (void)!::write(wakePipe_[1], &wake, 1);
  acceptThread_.join();
  // No new connections after the accept loop ended; the list is stable now.
  for (auto& c : connections_) {
    if (c->thread.joinable()) c->thread.join();
  }
  for (auto& c : connections_) ::close(c->fd);
  ::close(listenFd_);
  ::close(wakePipe_[0]);
  ::close(wakePipe_[1]);
}

std::string LocalHttpServer::baseUrl() const {
  return "http://127.0.0.1:" + std::to_string(port_);
}

void LocalHttpServer::setResponse(const std::string& path, Response response) {
  std::lock_guard<std::mutex> lock(mu_);
  handlers_.erase(path);
  fixed_[path] = std::move(response);
}

void LocalHttpServer::enqueueResponse(const std::string& path, Response response) {
  std::lock_guard<std::mutex> lock(mu_);
  queued_[path].push_back(std::move(response));
}

void LocalHttpServer::setHandler(const std::string& path, Handler handler) {
  std::lock_guard<std::mutex> lock(mu_);
  fixed_.erase(path);
  handlers_[path] = std::move(handler);
}

void LocalHttpServer::setDefaultHandler(Handler handler) {
  std::lock_guard<std::mutex> lock(mu_);
  defaultHandler_ = std::move(handler);
}

std::vector<LocalHttpServer::Request> LocalHttpServer::requests() const {
  std::lock_guard<std::mutex> lock(mu_);
  return requests_;
}

std::size_t LocalHttpServer::requestCount() const {
  std::lock_guard<std::mutex> lock(mu_);
  return requests_.size();
}

bool LocalHttpServer::waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mu_);
  return changed_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
}

void LocalHttpServer::releaseHeldResponses() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    released_ = true;
  }
  changed_.notify_all();
}

std::size_t LocalHttpServer::acceptedConnections() const {
  std::lock_guard<std::mutex> lock(mu_);
  return connections_.size();
}

int LocalHttpServer::unusedPort() {
  // A low port that nothing listens on. A port the kernel hands out for binding to port 0 (as
  // the test servers do) would not do: another test process could be given it a moment later
  // and would then receive what this test sends "nowhere". Ports below the ephemeral range are
  // never handed out that way.
  for (int port : {1, 3, 9, 13, 19, 37, 79, 101}) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    const int connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    const int error = errno;
    ::close(fd);
    if (connected != 0 && error == ECONNREFUSED) return port;
  }
  std::abort();  // every candidate is served on this machine: the tests cannot run here
}

void LocalHttpServer::acceptLoop() {
  for (;;) {
    pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents) return;
    if (!(fds[0].revents & POLLIN)) continue;
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::lock_guard<std::mutex> lock(mu_);
    if (stopping_) {
      ::close(fd);
      return;
    }
    auto connection = std::make_unique<Connection>();
    connection->fd = fd;
    const std::size_t number = connections_.size() + 1;
    connection->thread = std::thread([this, fd, number] { serve(fd, number); });
    connections_.push_back(std::move(connection));
  }
}

LocalHttpServer::Response LocalHttpServer::responseFor(const Request& request) {
  Handler handler;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (auto q = queued_.find(request.path); q != queued_.end() && !q->second.empty()) {
      Response r = std::move(q->second.front());
      q->second.pop_front();
      return r;
    }
    if (auto f = fixed_.find(request.path); f != fixed_.end()) return f->second;
    if (auto h = handlers_.find(request.path); h != handlers_.end()) {
      handler = h->second;
    } else {
      handler = defaultHandler_;
    }
  }
  if (handler) return handler(request);
  return Response::text(404, "not found");
}

bool LocalHttpServer::waitBeforeAnswering(const Response& response) {
  std::unique_lock<std::mutex> lock(mu_);
  if (response.delaySeconds > 0) {
    changed_.wait_for(lock, std::chrono::duration<double>(response.delaySeconds),
                      [&] { return stopping_; });
  }
  if (response.holdUntilReleased) {
    changed_.wait(lock, [&] { return stopping_ || released_; });
  }
  return !stopping_;
}

void LocalHttpServer::serve(int fd, std::size_t connectionNumber) {
  Reader reader(fd);
  for (;;) {
    Request request;
    request.connection = connectionNumber;
    const ReadResult result = readRequest(reader, request);
    if (result == ReadResult::kClosed) break;
    if (result == ReadResult::kMalformed) {
      sendAll(fd, "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
      break;
    }
    {
      std::lock_guard<std::mutex> lock(mu_);
      requests_.push_back(request);
    }
    changed_.notify_all();

    const Response response = responseFor(request);
    if (!waitBeforeAnswering(response)) break;

    const auto requestConnection = request.header("Connection");
    const bool close =
        response.closeConnection ||
        (requestConnection && equalsIgnoringCase(*requestConnection, "close")) ||
        (request.version == "HTTP/1.0" &&
         !(requestConnection && equalsIgnoringCase(*requestConnection, "keep-alive")));
    std::string out = "HTTP/1.1 " + std::to_string(response.status) + " " +
                      reasonPhrase(response.status) + "\r\n";
    for (const auto& [name, value] : response.headers) out += name + ": " + value + "\r\n";
    const bool noBody = request.method == "HEAD" || response.status == 204 ||
                        response.status == 304 || response.status / 100 == 1;
    if (response.chunked && !noBody) {
      out += "Transfer-Encoding: chunked\r\n";
    } else if (!findHeader(response.headers, "Content-Length")) {
      out += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
    }
    if (close) out += "Connection: close\r\n";
    out += "\r\n";
    if (!noBody) {
      if (response.chunked) {
        // Two chunks when there is enough body, so clients really reassemble.
        const std::size_t half = response.body.size() / 2;
        for (std::string_view part : {std::string_view(response.body).substr(0, half),
                                      std::string_view(response.body).substr(half)}) {
          if (part.empty()) continue;
          char size[32];
          std::snprintf(size, sizeof size, "%zx\r\n", part.size());
          out += size;
          out += part;
          out += "\r\n";
        }
        out += "0\r\n\r\n";
      } else {
        out += response.body;
      }
    }
    if (response.cutAfterBytes) {
      out.resize(std::min(out.size(), *response.cutAfterBytes));
      sendAll(fd, out);
      if (response.resetWhenCut) resetConnection(fd);
      break;
    }
    if (!sendAll(fd, out) || close) break;
  }
  ::shutdown(fd, SHUT_RDWR);
  std::lock_guard<std::mutex> lock(mu_);
  for (auto& c : connections_) {
    if (c->fd == fd) c->finished = true;
  }
}

}  // namespace loomset::testing
