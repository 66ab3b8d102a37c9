// A certificate authority made for one test: its own key and self-signed certificate, and server
// certificates it issues for 127.0.0.1 and the host names a test asks for. Everything is written
// as PEM files into a directory the test owns, so the HTTP client can be pointed at the
// authority's certificate and a TLS server at the server's key and certificate.
//
// Keys are P-256 and certificates valid from an hour ago for a day, made with OpenSSL.
#pragma once

#include <string>
#include <vector>

namespace loomset::testing {

class TestCertificateAuthority {
 public:
  struct ServerFiles {
    std::string certificatePath;
    std::string keyPath;
  };

  // Writes "<directory>/<name>-ca.pem". Throws std::runtime_error when OpenSSL fails.
  TestCertificateAuthority(std::string directory, std::string name);

  const std::string& certificatePath() const { return certificatePath_; }

  // A certificate for IP 127.0.0.1, "localhost" and `hostNames`, signed by this authority.
  ServerFiles issueServerCertificate(const std::string& fileStem,
                                     const std::vector<std::string>& hostNames) const;

 private:
  std::string directory_;
  std::string name_;
  std::string certificatePath_;
  std::string keyPath_;
};

}  // namespace loomset::testing
