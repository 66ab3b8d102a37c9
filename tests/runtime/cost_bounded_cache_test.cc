#include <gtest/gtest.h>

#include <string>

#include "runtime/MOXCostBoundedCache.h"

namespace loomset {
namespace {

TEST(CostBoundedCache, EvictsLeastRecentlyUsedPastTheLimit) {
  MOXCostBoundedCache<std::string, int> cache(10);
  cache.put("a", 1, 4);
  cache.put("b", 2, 4);
  ASSERT_EQ(cache.get("a"), 1);  // "a" is now the most recently used
  cache.put("c", 3, 4);          // 12 > 10: "b" goes
  EXPECT_EQ(cache.get("b"), std::nullopt);
  EXPECT_EQ(cache.get("a"), 1);
  EXPECT_EQ(cache.get("c"), 3);
  EXPECT_EQ(cache.totalCost(), 8u);

  cache.put("a", 10, 2);  // replacing re-costs the entry
  EXPECT_EQ(cache.get("a"), 10);
  EXPECT_EQ(cache.totalCost(), 6u);

  cache.put("huge", 4, 11);  // never fits, and evicts nothing
  EXPECT_EQ(cache.get("huge"), std::nullopt);
  EXPECT_EQ(cache.count(), 2u);
}

}  // namespace
}  // namespace loomset
