#include "analytics/dispatch/PLUBatching.h"

#include <algorithm>
#include <cmath>

#include "loomset/PLUFields.h"

namespace loomset {

std::size_t plu_batchByTimeGap(const std::vector<PLUBatchCandidate>& hits, std::size_t maxHits) {
  const std::size_t n = std::min(hits.size(), maxHits);
  if (n <= 1) return n;
  std::size_t cut = n;
  std::int64_t bestGap = 0;
  for (std::size_t i = 1; i < n; ++i) {
    const auto& earlier = hits[i - 1].timestamp;
    const auto& later = hits[i].timestamp;
    if (!earlier || !later || *later < *earlier) continue;
    // Stored times may be anything finite; the difference of two is clamped before it is
    // converted, so that it always fits.
    const auto gap = static_cast<std::int64_t>(std::min((*later - *earlier) * 1000.0, 1e18));
    if (gap >= bestGap) cut = i;
    bestGap = std::max(bestGap, gap);
  }
  return cut;
}

std::size_t plu_batchBySessionSplit(const std::vector<PLUBatchCandidate>& hits,
                                    std::size_t maxHits) {
  const std::size_t m = std::min(hits.size(), maxHits);
  for (std::size_t i = m == 0 ? 0 : m - 1; i >= 1; --i) {
    const PLUHitValue& sc = hits[i].sessionControl;
    if (!sc) continue;
    if (*sc == kPLUHitFormatSessionStart) return i;
    if (*sc == kPLUHitFormatSessionStop) return i + 1;
  }
  return m;
}

std::optional<std::size_t> plu_batchCount(unsigned strategy,
                                          const std::vector<PLUBatchCandidate>& hits,
                                          std::uint32_t maxBodySize) {
  if (hits.empty()) return 0;
  if (strategy == kPLUBatchingNone) return 1;
  const std::uint64_t limit = maxBodySize == 0 ? UINT64_MAX : maxBodySize;
  std::vector<std::uint64_t> running;
  running.reserve(hits.size());
  std::uint64_t total = 0;
  std::size_t limitCount = 0;
  for (std::size_t i = 0; i < hits.size(); ++i) {
    total += hits[i].encodedLength + (i == 0 ? 0 : 1);
    running.push_back(total);
    if (total <= limit) limitCount = i + 1;
  }

  std::size_t n = 0;
  if (total <= limit) {
    n = limitCount;
  } else {
    switch (strategy) {
      case kPLUBatchingFill:
        n = limitCount;
        break;
      case kPLUBatchingTimeGap:
        n = plu_batchByTimeGap(hits, limitCount);
        break;
      case kPLUBatchingHalfSize:
        if (total < 2 * limit) {
          const std::uint64_t half = total / 2;
          std::size_t i = hits.size() - 1;
          while (i > 1 && running[i] > half) --i;
          n = i;
        } else {
          n = limitCount;
        }
        break;
      case kPLUBatchingHalfCount:
        n = std::min(hits.size() / 2, limitCount);
        break;
      case kPLUBatchingSessionSplit:
        n = plu_batchBySessionSplit(hits, limitCount);
        break;
      default:
        return std::nullopt;
    }
  }
  return std::max<std::size_t>(n, 1);
}

}  // namespace loomset
