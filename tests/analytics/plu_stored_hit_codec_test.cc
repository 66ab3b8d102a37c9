// The stored form of a hit's parameters: what a row holds decodes to the same map, whatever order
// its entries were written in, and anything cut short or of an unknown kind is refused.
#include <gtest/gtest.h>

#include <string>

#include "analytics/store/PLUStoredHitCodec.h"

namespace loomset {
namespace {

// One entry as the encoder writes it (lengths below 128 take one byte).
std::string entry(const std::string& key, const PLUHitValue& value) {
  std::string out(1, static_cast<char>(key.size()));
  out += key;
  if (!value) return out + std::string(1, '\0');
  out += '\1';
  out += static_cast<char>(value->size());
  return out + *value;
}

TEST(PLUStoredHitCodec, DecodesEntriesInAnyOrderByKeyAndRefusesDamage) {
  const PLUHitMap hit{{"&cd", std::string("Home Screen")},
                      {"&ea", std::string("a\0b", 3)},
                      {"&ni", kPLUNullMarker},
                      {"&t", std::string("")}};
  const std::string stored = plu_encodeStoredParameters(hit);
  EXPECT_EQ(plu_decodeStoredParameters(stored), hit);

  // Out of key order, with a key repeated: placed by key, the later entry wins.
  const std::string shuffled = std::string(1, '\1') + entry("&t", std::string("")) +
                               entry("&ni", kPLUNullMarker) + entry("&cd", std::string("x")) +
                               entry("&ea", std::string("a\0b", 3)) +
                               entry("&cd", std::string("Home Screen"));
  EXPECT_EQ(plu_decodeStoredParameters(shuffled), hit);

  for (std::size_t cut = 1; cut < stored.size(); ++cut) {
    const auto partial = plu_decodeStoredParameters(stored.substr(0, cut));
    // A cut between two entries is a shorter map; any other cut is refused.
    if (partial) EXPECT_LT(partial->size(), hit.size()) << cut;
  }
  EXPECT_EQ(plu_decodeStoredParameters(std::string(1, '\1') + "\1k\7"), std::nullopt);
  EXPECT_EQ(plu_decodeStoredParameters(std::string(1, '\2')), std::nullopt);
  EXPECT_EQ(plu_decodeStoredParameters(""), std::nullopt);
}

}  // namespace
}  // namespace loomset
