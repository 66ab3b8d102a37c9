#include "support/LocalProxy.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <sstream>

#include "support/LoopbackSockets.h"

namespace loomset::testing {

namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
           return std::tolower(x) == std::tolower(y);
         });
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

// The port after the last ':' of "host:port", or of the authority of an absolute URL.
int portOf(std::string_view authority, int fallback) {
  const auto colon = authority.rfind(':');
  if (colon == std::string_view::npos || authority.find(']', colon) != std::string_view::npos) {
    return fallback;
  }
  try {
    return std::stoi(std::string(authority.substr(colon + 1)));
  } catch (...) {
    return fallback;
  }
}

}  // namespace

std::optional<std::string> LocalProxy::Request::header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (equalsIgnoringCase(key, name)) return value;
  }
  return std::nullopt;
}

LocalProxy::LocalProxy() {
  listenFd_ = listenOnLoopback(&port_);
  if (::pipe2(wakePipe_, O_CLOEXEC) != 0) wakePipe_[0] = wakePipe_[1] = -1;
  acceptThread_ = std::thread([this] { acceptLoop(); });
}

LocalProxy::~LocalProxy() {
  const char byte = 0;
  (void)!::write(wakePipe_[1], &byte, 1);
  acceptThread_.join();
  std::vector<std::thread> connections;
  {
    std::lock_guard<std::mutex> lock(mu_);
    connections.swap(connections_);
  }
  for (auto& thread : connections) thread.join();
  ::close(listenFd_);
  ::close(wakePipe_[0]);
  ::close(wakePipe_[1]);
}

std::string LocalProxy::url() const {
  return "http://127.0.0.1:" + std::to_string(port_);
}

std::vector<LocalProxy::Request> LocalProxy::requests() const {
  std::lock_guard<std::mutex> lock(mu_);
  return requests_;
}

void LocalProxy::acceptLoop() {
  while (waitReadable(listenFd_, wakePipe_[0])) {
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::lock_guard<std::mutex> lock(mu_);
    connections_.emplace_back([this, fd] {
      serve(fd);
      ::close(fd);
    });
  }
}

void LocalProxy::serve(int clientFd) {
  std::string head;
  std::string rest;
  if (!waitReadable(clientFd, wakePipe_[0]) || !readHead(clientFd, &head, &rest)) return;

  std::istringstream lines(head);
  std::string line;
  std::getline(lines, line);
  std::istringstream requestLine(line);
  Request request;
  std::string version;
  requestLine >> request.method >> request.target >> version;
  std::string forwardedHeaders;
  while (std::getline(lines, line)) {
    const auto colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string name(trim(std::string_view(line).substr(0, colon)));
    std::string value(trim(std::string_view(line).substr(colon + 1)));
    if (!equalsIgnoringCase(name, "Proxy-Connection") && !equalsIgnoringCase(name, "Connection") &&
        !equalsIgnoringCase(name, "Proxy-Authorization")) {
      forwardedHeaders += name + ": " + value + "\r\n";
    }
    request.headers.emplace_back(std::move(name), std::move(value));
  }
  {
    std::lock_guard<std::mutex> lock(mu_);
    requests_.push_back(request);
  }

  if (request.method == "CONNECT") {
    const int upstream = connectToLoopback(portOf(request.target, 443));
    if (upstream < 0) {
      writeAll(clientFd, "HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n");
      return;
    }
    if (writeAll(clientFd, "HTTP/1.1 200 Connection established\r\n\r\n") &&
        (rest.empty() || writeAll(upstream, rest))) {
      relay(clientFd, upstream);
    }
    ::close(upstream);
    return;
  }

  // Absolute form: "http://host[:port]/path?query" becomes "/path?query" to the origin.
  const std::string_view target = request.target;
  const auto schemeEnd = target.find("://");
  const auto authorityStart = schemeEnd == std::string_view::npos ? 0 : schemeEnd + 3;
  const auto pathStart = target.find('/', authorityStart);
  const std::string_view authority = target.substr(authorityStart, pathStart - authorityStart);
  const std::string path =
      pathStart == std::string_view::npos ? "/" : std::string(target.substr(pathStart));
  const int upstream = connectToLoopback(portOf(authority, 80));
  if (upstream < 0) {
    writeAll(clientFd,
             "HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    return;
  }
  const std::string forwarded = request.method + " " + path + " " + version + "\r\n" +
                                forwardedHeaders + "Connection: close\r\n\r\n" + rest;
  if (writeAll(upstream, forwarded)) relay(clientFd, upstream);
  ::close(upstream);
}

void LocalProxy::relay(int clientFd, int upstreamFd) {
  char buffer[16384];
  for (;;) {
    pollfd fds[3] = {{clientFd, POLLIN, 0}, {upstreamFd, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
    if (::poll(fds, 3, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[2].revents & POLLIN) return;
    for (int i = 0; i < 2; ++i) {
      if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      const ssize_t n = ::recv(fds[i].fd, buffer, sizeof buffer, 0);
      if (n <= 0) return;
      if (!writeAll(fds[1 - i].fd, std::string(buffer, static_cast<std::size_t>(n)))) return;
    }
  }
}

}  // namespace loomset::testing
