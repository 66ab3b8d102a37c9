// How many of the pending hits (oldest first) go into the next request. Pure functions of the
// hits' encoded lengths, times and session-control values, so each strategy can be checked with
// tables.
//
// Strategies: 0 none (one hit per request), 1 fill up to the body limit, 2 cut at the largest
// time gap, 3 split at half the size, 4 half the hits, 5 cut where "&sc" starts or ends a visit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "loomset/PLUHitMap.h"

namespace loomset {

enum PLUBatchingStrategy : unsigned {
  kPLUBatchingNone = 0,
  kPLUBatchingFill = 1,
  kPLUBatchingTimeGap = 2,
  kPLUBatchingHalfSize = 3,
  kPLUBatchingHalfCount = 4,
  kPLUBatchingSessionSplit = 5,
};

// What the strategies look at, per pending hit.
struct PLUBatchCandidate {
  std::size_t encodedLength = 0;    // bytes of its wire text
  std::optional<double> timestamp;  // seconds since 1970
  PLUHitValue sessionControl;       // its "&sc"
};

// Counts the hits up to the largest time gap among the first min(count, maxHits): the batch ends
// just before that gap, the later pair winning ties. Pairs with a missing time or going back in
// time are not gaps.
std::size_t plu_batchByTimeGap(const std::vector<PLUBatchCandidate>& hits, std::size_t maxHits);

// Scans down from the last of the first `maxHits`: a hit that starts a visit ends the batch
// before it, one that ends a visit ends the batch with it; otherwise all `maxHits`.
std::size_t plu_batchBySessionSplit(const std::vector<PLUBatchCandidate>& hits,
                                    std::size_t maxHits);

// The number of hits for one request, at least 1 (for a non-empty list). The running size counts
// the line feeds between hits, so that the body the count promises fits `maxBodySize` (0: no
// limit). Nothing for an unknown strategy.
std::optional<std::size_t> plu_batchCount(unsigned strategy,
                                          const std::vector<PLUBatchCandidate>& hits,
                                          std::uint32_t maxBodySize);

}  // namespace loomset
