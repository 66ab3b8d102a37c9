// Any body and content encoding a client sends to the development server's collector: the body
// is decoded within its size bound or refused with a reason, and every hit line decodes to a JSON
// object that serialises to one line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "tools/devserver/HitDecoding.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  loomset::fuzzing::silenceLogs();
  if (size == 0) return 0;
  // The first byte picks the encoding, the rest is the body.
  static const char* const kEncodings[] = {"", "identity", "gzip", "x-gzip", "deflate", "br"};
  const char* encoding = kEncodings[data[0] % (sizeof kEncodings / sizeof *kEncodings)];
  const auto body = loomset::fuzzing::textOf(data + 1, size - 1);
  constexpr std::size_t kMaxBytes = 1 << 20;
  std::string error;
  const auto decoded = loomset::devserver::decodeContent(body, encoding, kMaxBytes, error);
  if (!decoded) {
    if (error.empty()) std::abort();
    return 0;
  }
  if (decoded->size() > kMaxBytes) std::abort();
  for (const auto line : loomset::devserver::splitHitLines(*decoded)) {
    const std::string json = loomset::devserver::jsonLine(loomset::devserver::decodeHitText(line));
    if (json.find('\n') != std::string::npos) std::abort();
  }
  loomset::devserver::decodeHitText(body);
  return 0;
}
