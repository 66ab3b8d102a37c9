#include "tools/devserver/HttpServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <exception>
#include <system_error>

namespace loomset::devserver {
namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (std::tolower(x) != std::tolower(y)) return false;
  }
  return true;
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool sendAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// Buffered reading from a connection; every read fails once the peer or `stop` ends it.
class Reader {
 public:
  explicit Reader(int fd) : fd_(fd) {}

  // Up to and including the first "\r\n\r\n"; nothing at the end of the stream. `tooLarge` is
  // set when the head exceeds `limit`.
  std::optional<std::string> head(std::size_t limit, bool& tooLarge) {
    tooLarge = false;
    std::size_t searchFrom = 0;
    for (;;) {
      const auto end = buffer_.find("\r\n\r\n", searchFrom);
      if (end != std::string::npos) {
        std::string head = buffer_.substr(0, end + 4);
        buffer_.erase(0, end + 4);
        return head;
      }
      if (buffer_.size() > limit) {
        tooLarge = true;
        return std::nullopt;
      }
      searchFrom = buffer_.size() < 3 ? 0 : buffer_.size() - 3;
      if (!fill()) return std::nullopt;
    }
  }

  std::optional<std::string> exactly(std::size_t count) {
    while (buffer_.size() < count) {
      if (!fill()) return std::nullopt;
    }
    std::string bytes = buffer_.substr(0, count);
    buffer_.erase(0, count);
    return bytes;
  }

  std::optional<std::string> line(std::size_t limit) {
    for (;;) {
      const auto end = buffer_.find("\r\n");
      if (end != std::string::npos) {
        std::string text = buffer_.substr(0, end);
        buffer_.erase(0, end + 2);
        return text;
      }
      if (buffer_.size() > limit || !fill()) return std::nullopt;
    }
  }

 private:
  bool fill() {
    char chunk[16384];
    for (;;) {
      const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      buffer_.append(chunk, static_cast<std::size_t>(n));
      return true;
    }
  }

  const int fd_;
  std::string buffer_;
};

enum class BodyResult { kOk, kMalformed, kTooLarge, kClosed };

// Reads a chunked body, trailers included.
BodyResult readChunked(Reader& reader, std::size_t maxBytes, std::string& body) {
  for (;;) {
    const auto sizeLine = reader.line(1024);
    if (!sizeLine) return BodyResult::kClosed;
    std::size_t size = 0;
    std::size_t digits = 0;
    for (const char c : *sizeLine) {
      int value;
      if (c >= '0' && c <= '9') {
        value = c - '0';
      } else if (c >= 'a' && c <= 'f') {
        value = c - 'a' + 10;
      } else if (c >= 'A' && c <= 'F') {
        value = c - 'A' + 10;
      } else {
        break;  // a chunk extension or white space follows the size
      }
      if (++digits > 15) return BodyResult::kTooLarge;
      size = size * 16 + static_cast<std::size_t>(value);
    }
    if (digits == 0) return BodyResult::kMalformed;
    if (size == 0) break;
    if (body.size() + size > maxBytes) return BodyResult::kTooLarge;
    const auto data = reader.exactly(size + 2);
    if (!data) return BodyResult::kClosed;
    if (data->compare(size, 2, "\r\n") != 0) return BodyResult::kMalformed;
    body.append(*data, 0, size);
  }
  for (;;) {
    const auto trailer = reader.line(HttpServer::kMaxHeaderBytes);
    if (!trailer) return BodyResult::kClosed;
    if (trailer->empty()) return BodyResult::kOk;
  }
}

// Parses the request line and headers; false when they are malformed.
bool parseHead(const std::string& head, ServerRequest& request, std::string& version) {
  std::string_view rest(head);
  const auto lineEnd = rest.find("\r\n");
  const std::string_view requestLine = rest.substr(0, lineEnd);
  rest.remove_prefix(lineEnd + 2);
  const auto firstSpace = requestLine.find(' ');
  const auto lastSpace = requestLine.rfind(' ');
  if (firstSpace == std::string_view::npos || lastSpace == firstSpace) return false;
  request.method = std::string(requestLine.substr(0, firstSpace));
  request.target = std::string(requestLine.substr(firstSpace + 1, lastSpace - firstSpace - 1));
  version = std::string(requestLine.substr(lastSpace + 1));
  if (request.method.empty() || request.target.empty() || version.rfind("HTTP/1.", 0) != 0) {
    return false;
  }
  const auto question = request.target.find('?');
  request.path = request.target.substr(0, question);
  if (question != std::string::npos) request.query = request.target.substr(question + 1);

  while (!rest.empty()) {
    const auto end = rest.find("\r\n");
    const std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 2);
    if (line.empty()) break;
    const auto colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) return false;
    request.headers.emplace_back(std::string(trim(line.substr(0, colon))),
                                 std::string(trim(line.substr(colon + 1))));
  }
  return true;
}

std::string serialize(const ServerResponse& response, bool keepAlive) {
  std::string out =
      "HTTP/1.1 " + std::to_string(response.status) + " " + reasonPhrase(response.status) + "\r\n";
  out += "Content-Type: " + response.contentType + "\r\n";
  out += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
  out += "Cache-Control: no-store\r\n";
  out += keepAlive ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n";
  out += response.body;
  return out;
}

// Closing with unread input makes the kernel reset the connection, which can destroy a refusal
// the peer has not read yet; so the sending side is shut first and what is still coming is read
// and dropped for a moment.
void lingeringShutdown(int fd) {
  ::shutdown(fd, SHUT_WR);
  char sink[16384];
  std::size_t drained = 0;
  while (drained < (1u << 20)) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 200) <= 0) return;
    const ssize_t n = ::recv(fd, sink, sizeof sink, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    drained += static_cast<std::size_t>(n);
  }
}

}  // namespace

std::optional<std::string> ServerRequest::header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (equalsIgnoringCase(key, name)) return value;
  }
  return std::nullopt;
}

ServerResponse ServerResponse::text(int status, std::string body) {
  ServerResponse response;
  response.status = status;
  response.body = std::move(body);
  return response;
}

ServerResponse ServerResponse::json(int status, std::string body) {
  ServerResponse response;
  response.status = status;
  response.contentType = "application/json";
  response.body = std::move(body);
  return response;
}

const char* reasonPhrase(int status) {
  switch (status) {
    case 100:
      return "Continue";
    case 200:
      return "OK";
    case 204:
      return "No Content";
    case 400:
      return "Bad Request";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 413:
      return "Payload Too Large";
    case 415:
      return "Unsupported Media Type";
    case 431:
      return "Request Header Fields Too Large";
    case 500:
      return "Internal Server Error";
    case 501:
      return "Not Implemented";
    case 503:
      return "Service Unavailable";
    default:
      return "Status";
  }
}

HttpServer::HttpServer(int port, Handler handler, std::size_t maxBodyBytes)
    : handler_(std::move(handler)), maxBodyBytes_(maxBodyBytes) {
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) throw std::system_error(errno, std::generic_category(), "socket");
  const int yes = 1;
  ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listenFd_, 64) != 0 || ::pipe2(wakePipe_, O_CLOEXEC) != 0) {
    const int error = errno;
    ::close(listenFd_);
    if (wakePipe_[0] >= 0) ::close(wakePipe_[0]);
    if (wakePipe_[1] >= 0) ::close(wakePipe_[1]);
    throw std::system_error(error, std::generic_category(),
                            "cannot listen on 127.0.0.1:" + std::to_string(port));
  }
  socklen_t length = sizeof address;
  ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  acceptThread_ = std::thread([this] { acceptLoop(); });
}

HttpServer::~HttpServer() {
  stop();
}

void HttpServer::stop() {
  if (stopping_.exchange(true)) {
    if (acceptThread_.joinable()) acceptThread_.join();
    return;
  }
  const char wake = 1;
  while (::write(wakePipe_[1], &wake, 1) < 0 && errno == EINTR) {
  }
  if (acceptThread_.joinable()) acceptThread_.join();
  std::vector<std::unique_ptr<Connection>> connections;
  {
    std::lock_guard<std::mutex> lock(mu_);
    for (auto& connection : connections_) {
      if (!connection->finished) ::shutdown(connection->fd, SHUT_RDWR);
    }
    connections.swap(connections_);
  }
  for (auto& connection : connections) {
    if (connection->thread.joinable()) connection->thread.join();
  }
  ::close(listenFd_);
  ::close(wakePipe_[0]);
  ::close(wakePipe_[1]);
}

void HttpServer::acceptLoop() {
  for (;;) {
    pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0 || stopping_) return;
    if ((fds[0].revents & POLLIN) == 0) continue;
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    reapFinished();
    std::lock_guard<std::mutex> lock(mu_);
    if (stopping_) {
      ::close(fd);
      return;
    }
    auto connection = std::make_unique<Connection>();
    connection->fd = fd;
    Connection* raw = connection.get();
    connection->thread = std::thread([this, raw] { serve(raw); });
    connections_.push_back(std::move(connection));
  }
}

void HttpServer::reapFinished() {
  std::vector<std::unique_ptr<Connection>> finished;
  {
    std::lock_guard<std::mutex> lock(mu_);
    for (auto it = connections_.begin(); it != connections_.end();) {
      if ((*it)->finished) {
        finished.push_back(std::move(*it));
        it = connections_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& connection : finished) connection->thread.join();
}

void HttpServer::serve(Connection* connection) {
  const int fd = connection->fd;
  Reader reader(fd);
  bool keepAlive = true;
  while (keepAlive && !stopping_) {
    bool headTooLarge = false;
    const auto head = reader.head(kMaxHeaderBytes, headTooLarge);
    if (!head) {
      if (headTooLarge) {
        sendAll(fd, serialize(ServerResponse::text(431, "request head too large\n"), false));
      }
      break;
    }
    ServerRequest request;
    std::string version;
    if (!parseHead(*head, request, version)) {
      sendAll(fd, serialize(ServerResponse::text(400, "malformed request\n"), false));
      break;
    }
    const auto connectionHeader = request.header("Connection");
    keepAlive = version != "HTTP/1.0"
                    ? !(connectionHeader && equalsIgnoringCase(*connectionHeader, "close"))
                    : (connectionHeader && equalsIgnoringCase(*connectionHeader, "keep-alive"));

    const auto encoding = request.header("Transfer-Encoding");
    const auto lengthText = request.header("Content-Length");
    const bool chunked = encoding && equalsIgnoringCase(*encoding, "chunked");
    std::size_t length = 0;
    if (!chunked && lengthText) {
      const std::string& text = *lengthText;
      if (text.empty() || text.size() > 15 ||
          text.find_first_not_of("0123456789") != std::string::npos) {
        sendAll(fd, serialize(ServerResponse::text(400, "bad Content-Length\n"), false));
        break;
      }
      length = std::stoull(text);
      if (length > maxBodyBytes_) {
        sendAll(fd, serialize(ServerResponse::text(413, "request body too large\n"), false));
        break;
      }
    }
    const auto expect = request.header("Expect");
    if (expect && equalsIgnoringCase(*expect, "100-continue") && (chunked || length > 0)) {
      if (!sendAll(fd, "HTTP/1.1 100 Continue\r\n\r\n")) break;
    }
    if (chunked) {
      const BodyResult result = readChunked(reader, maxBodyBytes_, request.body);
      if (result == BodyResult::kClosed) break;
      if (result != BodyResult::kOk) {
        const bool tooLarge = result == BodyResult::kTooLarge;
        sendAll(fd, serialize(ServerResponse::text(tooLarge ? 413 : 400,
                                                   tooLarge ? "request body too large\n"
                                                            : "malformed chunked body\n"),
                              false));
        break;
      }
    } else if (length > 0) {
      auto body = reader.exactly(length);
      if (!body) break;
      request.body = std::move(*body);
    }

    ServerResponse response;
    try {
      response = handler_(request);
    } catch (const std::exception& e) {
      response = ServerResponse::text(500, std::string("internal error: ") + e.what() + "\n");
    }
    if (stopping_) keepAlive = false;
    if (!sendAll(fd, serialize(response, keepAlive))) break;
  }
  if (!stopping_) lingeringShutdown(fd);
  std::lock_guard<std::mutex> lock(mu_);
  ::close(fd);
  connection->finished = true;
}

}  // namespace loomset::devserver
