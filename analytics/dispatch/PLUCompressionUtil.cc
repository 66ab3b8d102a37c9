#include "analytics/dispatch/PLUCompressionUtil.h"

#include <zlib.h>

#include <cstdint>

#include "analytics/PLULog.h"

namespace loomset {
namespace {

constexpr std::size_t kChunkSize = 1024;
constexpr std::uint64_t kMaxInputLength = 4294967295ULL;

}  // namespace

int PLUCompressionUtil::clampLevel(int level) {
  if (level == kDefaultLevel) return Z_DEFAULT_COMPRESSION;
  if (level < 1) return 1;
  if (level > 9) return 9;
  return level;
}

int PLUCompressionUtil::windowBitsForMode(int mode) {
  switch (mode) {
    case kModeGzip:
      return 31;
    case kModeRawDeflate:
      return -15;
    default:
      return 15;
  }
}

std::optional<std::string> PLUCompressionUtil::plu_dataByGzippingData(std::string_view data,
                                                                      int level) {
  return plu_dataByCompressingBytes(data.data(), data.size(), level, kModeGzip);
}

std::optional<std::string> PLUCompressionUtil::plu_dataByDeflatingData(std::string_view data,
                                                                       int level) {
  return plu_dataByCompressingBytes(data.data(), data.size(), level, kModeZlib);
}

std::optional<std::string> PLUCompressionUtil::plu_dataByRawDeflatingData(std::string_view data,
                                                                          int level) {
  return plu_dataByCompressingBytes(data.data(), data.size(), level, kModeRawDeflate);
}

std::optional<std::string> PLUCompressionUtil::plu_dataByCompressingBytes(const void* bytes,
                                                                          std::size_t length,
                                                                          int level, int mode) {
  if (!bytes || length == 0 || static_cast<std::uint64_t>(length) > kMaxInputLength) {
    return std::nullopt;
  }
  const int zlibLevel = clampLevel(level);
  z_stream stream{};
  const int initResult =
      deflateInit2(&stream, zlibLevel, Z_DEFLATED, windowBitsForMode(mode), 8, Z_DEFAULT_STRATEGY);
  if (initResult != Z_OK) {
    PLU_LOG_ERROR("Failed to init for deflate w/ level " + std::to_string(zlibLevel) + ", error " +
                  std::to_string(initResult));
    return std::nullopt;
  }
  // zlib's interface is not const-correct; it never writes through next_in.
  stream.next_in = static_cast<Bytef*>(const_cast<void*>(bytes));
  stream.avail_in = static_cast<uInt>(length);

  std::string out;
  unsigned char chunk[kChunkSize];
  int result = Z_OK;
  do {
    stream.next_out = chunk;
    stream.avail_out = kChunkSize;
    result = deflate(&stream, Z_FINISH);
    if (result == Z_STREAM_ERROR) {
      PLU_LOG_ERROR("Error trying to deflate some of the payload, error " + std::to_string(result));
      deflateEnd(&stream);
      return std::nullopt;
    }
    out.append(reinterpret_cast<const char*>(chunk), kChunkSize - stream.avail_out);
  } while (stream.avail_out == 0);

  if (stream.avail_in != 0) {
    // A stream that ended before taking all input would be a truncated body on the wire.
    PLU_LOG_ERROR("finished deflate w/o using all input, " + std::to_string(stream.avail_in) +
                  " bytes left");
    deflateEnd(&stream);
    return std::nullopt;
  }
  deflateEnd(&stream);
  if (result != Z_STREAM_END) {
    PLU_LOG_ERROR("Error trying to deflate some of the payload, error " + std::to_string(result));
    return std::nullopt;
  }
  return out;
}

}  // namespace loomset
