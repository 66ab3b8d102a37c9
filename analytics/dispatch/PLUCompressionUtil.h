// Compression of request bodies over zlib: gzip (what batched hits are sent with), the zlib
// format ("deflate" as HTTP means it) and raw deflate. Each call compresses the whole input in one
// finishing pass.
//
// Threads: stateless; any thread.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace loomset {

class PLUCompressionUtil {
 public:
  // zlib's own default level; every other level is clamped to 1 ... 9.
  static constexpr int kDefaultLevel = -1;

  enum Mode : int {
    kModeZlib = 0,  // also any value other than the two below
    kModeGzip = 1,
    kModeRawDeflate = 2,
  };

  static std::optional<std::string> plu_dataByGzippingData(std::string_view data,
                                                           int level = kDefaultLevel);
  static std::optional<std::string> plu_dataByDeflatingData(std::string_view data,
                                                            int level = kDefaultLevel);
  static std::optional<std::string> plu_dataByRawDeflatingData(std::string_view data,
                                                               int level = kDefaultLevel);

  // Nothing for empty input, input beyond 4294967295 bytes, or a zlib failure (logged).
  static std::optional<std::string> plu_dataByCompressingBytes(const void* bytes,
                                                               std::size_t length, int level,
                                                               int mode);

  // -1 stays; 0 and other values below 1 become 1; above 9 becomes 9.
  static int clampLevel(int level);
  // 31 for gzip, -15 for raw deflate, 15 (zlib format) otherwise.
  static int windowBitsForMode(int mode);
};

}  // namespace loomset
