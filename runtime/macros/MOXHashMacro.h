// "_hsh": the upper-case hex digest of "arg0". "algorithm" is "MD5" (the default), "SHA-1",
// "SHA-256", "SHA-384" or "SHA-512", matched exactly; "input_format" is "text" (the default: the
// text's UTF-8 bytes) or "base16" (hex digits, either case). Cacheable.
//
// Failures answer MOXTypes::defaultValue(): a missing "arg0", or one that is
// MOXTypes::defaultValue(), silently; an unknown input format ("Hash: unknown input format: "),
// malformed hex ("Hash: invalid input: "), an unknown algorithm or a failing digest ("Hash
// error. Algorithm: ") with an error line. The empty text is hashed like any other.
//
// Threads: the algorithm table is filled at construction and only read afterwards.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "loomset/Exceptions.h"
#include "loomset/MOXFunctionCallImplementation.h"
#include "runtime/macros/MOXHashAlgorithms.h"

namespace loomset {

// Raised by MOXHashMacro::hash for an algorithm name it does not know; caught by the macro.
class NoSuchAlgorithmException : public LoomsetException {
 public:
  static constexpr const char* kName = "NoSuchAlgorithmException";
  explicit NoSuchAlgorithmException(std::string reason)
      : LoomsetException(kName, std::move(reason)) {}
};

class MOXHashMacro final : public MOXFunctionCallImplementation {
 public:
  static const std::string& functionId();      // "_hsh"
  static const std::string& arg0Key();         // "arg0"
  static const std::string& algorithmKey();    // "algorithm"
  static const std::string& inputFormatKey();  // "input_format"

  MOXHashMacro();
  bool isCacheable() const override { return true; }
  ValuePtr evaluate(const MOXParameterMap& parameters) override;

  // The digest of the bytes under the named algorithm. Throws NoSuchAlgorithmException
  // ("Unknown algorithm<name>") for a name not in the table, std::runtime_error when the digest
  // fails.
  std::string hash(std::string_view bytes, const std::string& algorithm) const;

 private:
  std::unordered_map<std::string, std::unique_ptr<const MOXHashAlgorithm>> hashAlgorithms_;
};

}  // namespace loomset
