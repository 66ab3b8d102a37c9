#include "Library/Util/platform/OpenSslRandomSource.h"

#include <openssl/err.h>
#include <openssl/rand.h>

#include <cstring>
#include <random>

#include "loomset/MOXLog.h"

namespace loomset {

namespace {

// OpenSSL fails only when the system cannot seed it at all; the operating system's generator is
// the best that is left then, and randomness must not simply stop.
void fill(unsigned char* out, size_t size) {
  if (RAND_bytes(out, static_cast<int>(size)) == 1) return;
  MOXLog::error("OpenSSL could not produce random bytes (error " + std::to_string(ERR_get_error()) +
                "); using the system generator");
  std::random_device device;
  for (size_t i = 0; i < size; ++i) out[i] = static_cast<unsigned char>(device());
}

template <typename T>
T draw() {
  unsigned char bytes[sizeof(T)];
  fill(bytes, sizeof bytes);
  T value;
  std::memcpy(&value, bytes, sizeof value);
  return value;
}

}  // namespace

std::uint32_t OpenSslRandomSource::uniform(std::uint32_t bound) {
  return randomshape::uniform(bound, [] { return draw<std::uint32_t>(); });
}

double OpenSslRandomSource::unit() {
  return randomshape::unitFromBits(draw<std::uint64_t>());
}

std::string OpenSslRandomSource::uuid() {
  unsigned char bytes[16];
  fill(bytes, sizeof bytes);
  return randomshape::uuidFromBytes(bytes);
}

namespace randomshape {

std::string uuidFromBytes(const unsigned char (&input)[16]) {
  unsigned char bytes[16];
  std::memcpy(bytes, input, sizeof bytes);
  bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);
  bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(36);
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
    out += kHex[bytes[i] >> 4];
    out += kHex[bytes[i] & 0x0F];
  }
  return out;
}

}  // namespace randomshape

}  // namespace loomset
