// The library's RandomSource: every draw comes straight from OpenSSL's cryptographic generator,
// which is seeded by the system and safe to use from any thread.
#pragma once

#include <cstdint>
#include <string>

#include "loomset/Export.h"
#include "loomset/platform/Platform.h"

namespace loomset {

class LOOMSET_EXPORT OpenSslRandomSource final : public RandomSource {
 public:
  std::uint32_t uniform(std::uint32_t bound) override;
  double unit() override;
  std::string uuid() override;
};

// Pure helpers, shared with test random sources so that they produce the same shapes.
namespace randomshape {

// Maps raw 32-bit draws onto [0, bound) without modulo bias: draws below 2^32 mod bound are
// rejected and `next` is asked again. 0 when bound is 0.
template <typename Next>
std::uint32_t uniform(std::uint32_t bound, Next&& next) {
  if (bound < 2) return 0;
  // 2^32 mod bound, computed in 32 bits.
  const std::uint32_t threshold = static_cast<std::uint32_t>(-bound) % bound;
  for (;;) {
    const std::uint32_t r = next();
    if (r >= threshold) return r % bound;
  }
}

// 53 random bits as a double in [0, 1).
inline double unitFromBits(std::uint64_t bits) {
  return static_cast<double>(bits >> 11) * (1.0 / 9007199254740992.0);
}

// Formats 16 random bytes as a version-4 UUID in upper-case canonical form, setting the version
// and variant bits.
LOOMSET_EXPORT std::string uuidFromBytes(const unsigned char (&bytes)[16]);

}  // namespace randomshape

}  // namespace loomset
