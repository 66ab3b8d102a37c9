#include "runtime/macros/MOXHashAlgorithms.h"

#include <stdexcept>

#include <openssl/evp.h>

namespace loomset {

// Fetching an algorithm from libcrypto's providers is far dearer than digesting a short text,
// so it is done once per algorithm object and the fetched method is kept.
struct MOXHashAlgorithm::Digest {
  explicit Digest(EVP_MD* fetched) : md(fetched) {}
  ~Digest() { EVP_MD_free(md); }
  Digest(const Digest&) = delete;
  Digest& operator=(const Digest&) = delete;
  EVP_MD* const md;
};

MOXHashAlgorithm::MOXHashAlgorithm(const char* name, std::size_t digestLength)
    : digestLength_(digestLength) {
  if (EVP_MD* md = EVP_MD_fetch(nullptr, name, nullptr)) {
    digest_ = std::make_shared<const Digest>(md);
  }
}

std::string MOXHashAlgorithm::hashData(std::string_view bytes) const {
  if (!digest_) throw std::runtime_error("digest not available");
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), out, &length, digest_->md, nullptr) != 1 ||
      length != digestLength_) {
    throw std::runtime_error("digest failed");
  }
  return std::string(reinterpret_cast<const char*>(out), length);
}

}  // namespace loomset
