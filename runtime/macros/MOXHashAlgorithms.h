// The message digests of the hash macro, over OpenSSL libcrypto. Each algorithm is looked up in
// libcrypto once, when it is made; `hashData` then only runs the digest.
//
// Threads: an algorithm object is immutable; `hashData` may run on any number of threads at once.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace loomset {

class MOXHashAlgorithm {
 public:
  virtual ~MOXHashAlgorithm() = default;
  MOXHashAlgorithm(const MOXHashAlgorithm&) = delete;
  MOXHashAlgorithm& operator=(const MOXHashAlgorithm&) = delete;

  // The digest of the bytes. Throws std::runtime_error when libcrypto cannot compute it (for
  // example when a restricted provider lacks the algorithm).
  std::string hashData(std::string_view bytes) const;
  std::size_t digestLength() const { return digestLength_; }

 protected:
  // `name` is libcrypto's name of the digest.
  MOXHashAlgorithm(const char* name, std::size_t digestLength);

 private:
  struct Digest;
  std::shared_ptr<const Digest> digest_;  // null when libcrypto does not offer it
  const std::size_t digestLength_;
};

class MOXMD5HashAlgorithm final : public MOXHashAlgorithm {
 public:
  MOXMD5HashAlgorithm() : MOXHashAlgorithm("MD5", 16) {}
};
class MOXSha1HashAlgorithm final : public MOXHashAlgorithm {
 public:
  MOXSha1HashAlgorithm() : MOXHashAlgorithm("SHA1", 20) {}
};
class MOXSha256HashAlgorithm final : public MOXHashAlgorithm {
 public:
  MOXSha256HashAlgorithm() : MOXHashAlgorithm("SHA256", 32) {}
};
class MOXSha384HashAlgorithm final : public MOXHashAlgorithm {
 public:
  MOXSha384HashAlgorithm() : MOXHashAlgorithm("SHA384", 48) {}
};
class MOXSha512HashAlgorithm final : public MOXHashAlgorithm {
 public:
  MOXSha512HashAlgorithm() : MOXHashAlgorithm("SHA512", 64) {}
};

}  // namespace loomset
