#include "support/LocalTlsServer.h"

#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <stdexcept>

#include "support/LoopbackSockets.h"

namespace loomset::testing {

namespace {

SSL_CTX* ctx(void* context) {
  return static_cast<SSL_CTX*>(context);
}

}  // namespace

LocalTlsServer::LocalTlsServer(const std::string& certificatePath, const std::string& keyPath,
                               std::string body)
    : body_(std::move(body)) {
  SSL_CTX* context = SSL_CTX_new(TLS_server_method());
  if (!context || SSL_CTX_use_certificate_chain_file(context, certificatePath.c_str()) != 1 ||
      SSL_CTX_use_PrivateKey_file(context, keyPath.c_str(), SSL_FILETYPE_PEM) != 1) {
    SSL_CTX_free(context);
    throw std::runtime_error("the TLS server cannot use its certificate");
  }
  context_ = context;
  listenFd_ = listenOnLoopback(&port_);
  if (::pipe2(wakePipe_, O_CLOEXEC) != 0) wakePipe_[0] = wakePipe_[1] = -1;
  thread_ = std::thread([this] { acceptLoop(); });
}

LocalTlsServer::~LocalTlsServer() {
  const char byte = 0;
  (void)!::write(wakePipe_[1], &byte, 1);
  thread_.join();
  ::close(listenFd_);
  ::close(wakePipe_[0]);
  ::close(wakePipe_[1]);
  SSL_CTX_free(ctx(context_));
}

std::string LocalTlsServer::url(const std::string& path, const std::string& host) const {
  return "https://" + host + ":" + std::to_string(port_) + path;
}

std::vector<std::string> LocalTlsServer::requestLines() const {
  std::lock_guard<std::mutex> lock(mu_);
  return requestLines_;
}

std::size_t LocalTlsServer::failedHandshakes() const {
  std::lock_guard<std::mutex> lock(mu_);
  return failedHandshakes_;
}

void LocalTlsServer::acceptLoop() {
  // OpenSSL writes with write(): a client that gives up (one refusing the certificate) would
  // raise SIGPIPE and end the test process. Blocked on this thread, the write fails with EPIPE.
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
  while (waitReadable(listenFd_, wakePipe_[0])) {
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    // One connection at a time; a client that stalls must not hold the server for long.
    timeval limit{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    serve(fd);
    ::close(fd);
  }
}

void LocalTlsServer::serve(int fd) {
  SSL* ssl = SSL_new(ctx(context_));
  if (!ssl) return;
  SSL_set_fd(ssl, fd);
  if (SSL_accept(ssl) != 1) {
    ERR_clear_error();
    SSL_free(ssl);
    std::lock_guard<std::mutex> lock(mu_);
    ++failedHandshakes_;
    return;
  }
  std::string received;
  char buffer[4096];
  while (received.find("\r\n\r\n") == std::string::npos && received.size() < 64 * 1024) {
    const int n = SSL_read(ssl, buffer, sizeof buffer);
    if (n <= 0) break;
    received.append(buffer, static_cast<std::size_t>(n));
  }
  if (received.find("\r\n\r\n") != std::string::npos) {
    {
      std::lock_guard<std::mutex> lock(mu_);
      requestLines_.push_back(received.substr(0, received.find("\r\n")));
    }
    const std::string response = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " +
                                 std::to_string(body_.size()) + "\r\nConnection: close\r\n\r\n" +
                                 body_;
    SSL_write(ssl, response.data(), static_cast<int>(response.size()));
    SSL_shutdown(ssl);
  }
  ERR_clear_error();
  SSL_free(ssl);
}

}  // namespace loomset::testing
