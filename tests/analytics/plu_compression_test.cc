// Request-body compression: gzip, zlib-format and raw deflate streams that zlib reads back
// unchanged, the level and mode rules, and the inputs that give nothing.
#include <gtest/gtest.h>

#include <zlib.h>

#include <optional>
#include <string>

#include "analytics/dispatch/PLUCompressionUtil.h"
#include "support/PLUCollector.h"

namespace loomset {
namespace {

using testing::PLUCollector;

std::optional<std::string> rawInflate(const std::string& data) {
  z_stream stream{};
  if (inflateInit2(&stream, -15) != Z_OK) return std::nullopt;
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  std::string out(1 << 20, '\0');
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  const int result = inflate(&stream, Z_FINISH);
  out.resize(out.size() - stream.avail_out);
  inflateEnd(&stream);
  if (result != Z_STREAM_END) return std::nullopt;
  return out;
}

// Text that compresses well, and bytes that hardly compress (so output spans many chunks).
std::string hitLikeText(std::size_t lines) {
  std::string text;
  for (std::size_t i = 0; i < lines; ++i) {
    if (i) text += '\n';
    text +=
        "v=1&tid=UA-12345-1&cid=0e2c7a1e-5b0f-4c2d-9a51-6a1f4f6a0b1c&t=event&ec=video&ea=play&"
        "el=intro&ht=17000000" +
        std::to_string(i);
  }
  return text;
}

std::string noisyBytes(std::size_t size) {
  std::string bytes(size, '\0');
  std::uint32_t state = 2463534242u;
  for (auto& byte : bytes) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    byte = static_cast<char>(state & 0xFF);
  }
  return bytes;
}

TEST(PLUCompressionUtil, EachModeRoundTripsThroughZlib) {
  for (const std::string& input : {hitLikeText(1), hitLikeText(40), noisyBytes(100000)}) {
    const auto gzip = PLUCompressionUtil::plu_dataByGzippingData(input);
    ASSERT_TRUE(gzip);
    ASSERT_GE(gzip->size(), 2u);
    EXPECT_EQ(static_cast<unsigned char>((*gzip)[0]), 0x1F);  // gzip magic
    EXPECT_EQ(static_cast<unsigned char>((*gzip)[1]), 0x8B);
    EXPECT_EQ(PLUCollector::inflate(*gzip), input);

    const auto zlib = PLUCompressionUtil::plu_dataByDeflatingData(input);
    ASSERT_TRUE(zlib);
    EXPECT_EQ(static_cast<unsigned char>((*zlib)[0]) & 0x0F, 8);  // zlib header: deflate method
    EXPECT_EQ(PLUCollector::inflate(*zlib), input);

    const auto raw = PLUCompressionUtil::plu_dataByRawDeflatingData(input);
    ASSERT_TRUE(raw);
    EXPECT_EQ(rawInflate(*raw), input);
    EXPECT_FALSE(PLUCollector::inflate(*raw)) << "raw deflate carries no header";
  }
  // Hit text shrinks a lot; that is the point of batching with gzip.
  const std::string text = hitLikeText(20);
  EXPECT_LT(PLUCompressionUtil::plu_dataByGzippingData(text)->size(), text.size() / 4);
}

TEST(PLUCompressionUtil, EveryLevelIsUsableAndOutOfRangeLevelsAreClamped) {
  struct Case {
    int level;
    int expected;
  };
  for (const Case& c : {Case{-1, Z_DEFAULT_COMPRESSION}, Case{0, 1}, Case{-7, 1}, Case{1, 1},
                        Case{6, 6}, Case{9, 9}, Case{10, 9}, Case{1000, 9}}) {
    EXPECT_EQ(PLUCompressionUtil::clampLevel(c.level), c.expected) << c.level;
  }
  const std::string input = hitLikeText(30);
  for (int level : {-1, 0, 1, 5, 9, 42, -3}) {
    const auto out = PLUCompressionUtil::plu_dataByCompressingBytes(
        input.data(), input.size(), level, PLUCompressionUtil::kModeGzip);
    ASSERT_TRUE(out) << level;
    EXPECT_EQ(PLUCollector::inflate(*out), input) << level;
  }
}

TEST(PLUCompressionUtil, ModesMapToWindowBitsAndUnknownModesUseTheZlibFormat) {
  EXPECT_EQ(PLUCompressionUtil::windowBitsForMode(PLUCompressionUtil::kModeGzip), 31);
  EXPECT_EQ(PLUCompressionUtil::windowBitsForMode(PLUCompressionUtil::kModeRawDeflate), -15);
  EXPECT_EQ(PLUCompressionUtil::windowBitsForMode(PLUCompressionUtil::kModeZlib), 15);
  EXPECT_EQ(PLUCompressionUtil::windowBitsForMode(77), 15);
  const std::string input = "a=b";
  const auto out =
      PLUCompressionUtil::plu_dataByCompressingBytes(input.data(), input.size(), -1, 77);
  ASSERT_TRUE(out);
  EXPECT_EQ(PLUCollector::inflate(*out), input);
}

TEST(PLUCompressionUtil, EmptyOrMissingInputGivesNothing) {
  EXPECT_FALSE(PLUCompressionUtil::plu_dataByGzippingData(""));
  EXPECT_FALSE(PLUCompressionUtil::plu_dataByDeflatingData(std::string_view()));
  EXPECT_FALSE(PLUCompressionUtil::plu_dataByCompressingBytes(nullptr, 10, -1, 1));
  const char byte = 'x';
  EXPECT_FALSE(PLUCompressionUtil::plu_dataByCompressingBytes(&byte, 0, -1, 1));
}

}  // namespace
}  // namespace loomset
