#include <gtest/gtest.h>

#include <cstdint>
#include <regex>
#include <set>
#include <vector>

#include "Library/Util/platform/OpenSslRandomSource.h"
#include "support/ScopedPlatform.h"

namespace loomset {
namespace {

const std::regex kUuidV4("^[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}$");

TEST(RandomSource, UuidsAreUpperCaseVersion4AndUnique) {
  OpenSslRandomSource random;
  std::set<std::string> seen;
  for (int i = 0; i < 2000; ++i) {
    const auto uuid = random.uuid();
    ASSERT_TRUE(std::regex_match(uuid, kUuidV4)) << uuid;
    seen.insert(uuid);
  }
  EXPECT_EQ(seen.size(), 2000u);
}

TEST(RandomSource, UuidFormattingSetsVersionAndVariantBitsOnly) {
  const unsigned char ones[16] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                  0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(randomshape::uuidFromBytes(ones), "FFFFFFFF-FFFF-4FFF-BFFF-FFFFFFFFFFFF");
  const unsigned char zeros[16] = {};
  EXPECT_EQ(randomshape::uuidFromBytes(zeros), "00000000-0000-4000-8000-000000000000");
}

TEST(RandomSource, UniformStaysInBoundsAndCoversTheRange) {
  OpenSslRandomSource random;
  EXPECT_EQ(random.uniform(0), 0u);
  EXPECT_EQ(random.uniform(1), 0u);
  std::vector<int> hits(10, 0);
  for (int i = 0; i < 2000; ++i) {
    const auto r = random.uniform(10);
    ASSERT_LT(r, 10u);
    ++hits[r];
  }
  for (int h : hits) EXPECT_GT(h, 0);
  for (int i = 0; i < 200; ++i) EXPECT_LT(random.uniform(UINT32_MAX), UINT32_MAX);
  for (int i = 0; i < 200; ++i) {
    const double u = random.unit();
    EXPECT_GE(u, 0.0);
    EXPECT_LT(u, 1.0);
  }
}

TEST(RandomSource, UniformRejectsTheBiasedLowDraws) {
  // With bound 3, 2^32 mod 3 = 1: a raw 0 would make 0 slightly more likely and is drawn again.
  std::vector<std::uint32_t> draws = {0, 0, 5};
  size_t next = 0;
  EXPECT_EQ(randomshape::uniform(3, [&] { return draws[next++]; }), 2u);
  EXPECT_EQ(next, 3u);
  // Bound 2^31 + 1 rejects almost half of all draws: everything below 2^31 - 1.
  draws = {0x7FFFFFFEu, 0x80000005u};
  next = 0;
  EXPECT_EQ(randomshape::uniform(0x80000001u, [&] { return draws[next++]; }), 4u);
  EXPECT_EQ(next, 2u);
  // Powers of two never reject.
  draws = {0};
  next = 0;
  EXPECT_EQ(randomshape::uniform(8, [&] { return draws[next++]; }), 0u);
  EXPECT_EQ(randomshape::unitFromBits(~0ull) < 1.0, true);
  EXPECT_EQ(randomshape::unitFromBits(0), 0.0);
}

TEST(RandomSource, SeededTestSourceRepeatsItsSequence) {
  testing::SeededRandomSource a(5);
  testing::SeededRandomSource b(5);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(a.uniform(1000), b.uniform(1000));
  EXPECT_EQ(a.uuid(), b.uuid());
  EXPECT_TRUE(std::regex_match(a.uuid(), kUuidV4));
  a.reseed(9);
  b.reseed(9);
  EXPECT_EQ(a.unit(), b.unit());
}

}  // namespace
}  // namespace loomset
