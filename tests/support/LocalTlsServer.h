// An https server on 127.0.0.1 inside the test process, with the certificate and key a test
// hands in (see TestCertificateAuthority). It answers every request that completes a TLS
// handshake with 200 and a fixed body, one request per connection, and counts the handshakes that
// failed (a client that does not trust the certificate gives up during the handshake).
//
// Listens from construction; the destructor stops and joins its thread. Threads: all operations
// are safe from any thread.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace loomset::testing {

class LocalTlsServer {
 public:
  // Throws std::runtime_error when the certificate or key cannot be used.
  LocalTlsServer(const std::string& certificatePath, const std::string& keyPath, std::string body);
  ~LocalTlsServer();
  LocalTlsServer(const LocalTlsServer&) = delete;
  LocalTlsServer& operator=(const LocalTlsServer&) = delete;

  int port() const { return port_; }
  // "https://<host>:<port><path>"
  std::string url(const std::string& path, const std::string& host = "127.0.0.1") const;
  // The request lines ("GET /path HTTP/1.1") of the requests answered.
  std::vector<std::string> requestLines() const;
  std::size_t failedHandshakes() const;

 private:
  void acceptLoop();
  void serve(int fd);

  void* context_ = nullptr;  // SSL_CTX
  const std::string body_;
  int listenFd_ = -1;
  int wakePipe_[2] = {-1, -1};
  int port_ = 0;
  std::thread thread_;

  mutable std::mutex mu_;
  std::vector<std::string> requestLines_;
  std::size_t failedHandshakes_ = 0;
};

}  // namespace loomset::testing
