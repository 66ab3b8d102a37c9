#include "support/TestCertificateAuthority.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <memory>
#include <stdexcept>

namespace loomset::testing {

namespace {

struct KeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertFree {
  void operator()(X509* cert) const { X509_free(cert); }
};
struct FileClose {
  void operator()(FILE* file) const { std::fclose(file); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;
using Cert = std::unique_ptr<X509, CertFree>;
using File = std::unique_ptr<FILE, FileClose>;

void check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("test certificate authority: ") + what);
}

Key newKey() {
  Key key(EVP_EC_gen("P-256"));
  check(key != nullptr, "key generation");
  return key;
}

void addExtension(X509* cert, X509* issuer, int nid, const std::string& value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
  check(extension != nullptr, "extension");
  X509_add_ext(cert, extension, -1);
  X509_EXTENSION_free(extension);
}

Cert newCertificate(EVP_PKEY* key, const std::string& commonName, long serial) {
  Cert cert(X509_new());
  check(cert != nullptr, "certificate");
  X509_set_version(cert.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial);
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), 24 * 3600);
  X509_set_pubkey(cert.get(), key);
  X509_NAME* name = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
  return cert;
}

void writeCertificate(const std::string& path, X509* cert) {
  File file(std::fopen(path.c_str(), "w"));
  check(file && PEM_write_X509(file.get(), cert) == 1, "writing a certificate");
}

void writeKey(const std::string& path, EVP_PKEY* key) {
  File file(std::fopen(path.c_str(), "w"));
  check(file && PEM_write_PrivateKey(file.get(), key, nullptr, nullptr, 0, nullptr, nullptr) == 1,
        "writing a key");
}

Key readKey(const std::string& path) {
  File file(std::fopen(path.c_str(), "r"));
  check(file != nullptr, "reading the key");
  Key key(PEM_read_PrivateKey(file.get(), nullptr, nullptr, nullptr));
  check(key != nullptr, "reading the key");
  return key;
}

Cert readCertificate(const std::string& path) {
  File file(std::fopen(path.c_str(), "r"));
  check(file != nullptr, "reading the certificate");
  Cert cert(PEM_read_X509(file.get(), nullptr, nullptr, nullptr));
  check(cert != nullptr, "reading the certificate");
  return cert;
}

}  // namespace

TestCertificateAuthority::TestCertificateAuthority(std::string directory, std::string name)
    : directory_(std::move(directory)),
      name_(std::move(name)),
      certificatePath_(directory_ + "/" + name_ + "-ca.pem"),
      keyPath_(directory_ + "/" + name_ + "-ca-key.pem") {
  Key key = newKey();
  Cert cert = newCertificate(key.get(), name_ + " Test CA", 1);
  X509_set_issuer_name(cert.get(), X509_get_subject_name(cert.get()));
  addExtension(cert.get(), cert.get(), NID_basic_constraints, "critical,CA:TRUE");
  addExtension(cert.get(), cert.get(), NID_key_usage, "critical,keyCertSign,cRLSign");
  addExtension(cert.get(), cert.get(), NID_subject_key_identifier, "hash");
  check(X509_sign(cert.get(), key.get(), EVP_sha256()) > 0, "signing the authority");
  writeCertificate(certificatePath_, cert.get());
  writeKey(keyPath_, key.get());
}

TestCertificateAuthority::ServerFiles TestCertificateAuthority::issueServerCertificate(
    const std::string& fileStem, const std::vector<std::string>& hostNames) const {
  Key caKey = readKey(keyPath_);
  Cert caCert = readCertificate(certificatePath_);
  Key key = newKey();
  static long serial = 100;
  Cert cert =
      newCertificate(key.get(), hostNames.empty() ? "localhost" : hostNames.front(), ++serial);
  X509_set_issuer_name(cert.get(), X509_get_subject_name(caCert.get()));
  std::string altNames = "IP:127.0.0.1,DNS:localhost";
  for (const std::string& host : hostNames) altNames += ",DNS:" + host;
  addExtension(cert.get(), caCert.get(), NID_subject_alt_name, altNames);
  addExtension(cert.get(), caCert.get(), NID_basic_constraints, "critical,CA:FALSE");
  addExtension(cert.get(), caCert.get(), NID_ext_key_usage, "serverAuth");
  addExtension(cert.get(), caCert.get(), NID_authority_key_identifier, "keyid:always");
  check(X509_sign(cert.get(), caKey.get(), EVP_sha256()) > 0, "signing the server certificate");

  ServerFiles files{directory_ + "/" + fileStem + "-cert.pem",
                    directory_ + "/" + fileStem + "-key.pem"};
  writeCertificate(files.certificatePath, cert.get());
  writeKey(files.keyPath, key.get());
  return files;
}

}  // namespace loomset::testing
