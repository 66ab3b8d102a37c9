// Client-side sampling of hits: a hit with a sample rate ("&sf", percent) is kept for a stable
// share of clients, decided by a hash of the client id.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "loomset/PLUHitMap.h"

namespace loomset {

class PLUSampling {
 public:
  // The client-id hash: walks the text's user-perceived characters from last to first, each
  // contributing its first UTF-16 code unit. An empty text hashes to 1. Invalid UTF-8 bytes count
  // as U+FFFD.
  static std::uint32_t qzHash(std::string_view utf8);
  // The rate when the whole text (white space around it allowed) is one decimal float.
  static std::optional<double> parseSampleRate(std::string_view text);
  // True when a client whose id hashes to `hash` falls outside `sampleRate` percent.
  static bool isSampledOut(std::uint32_t hash, double sampleRate) {
    return static_cast<double>(hash % 10000) >= sampleRate * 100.0;
  }
  // True when the built hit must be dropped for its "&sf" and "&cid". A missing or unparsable
  // rate keeps the hit.
  static bool shouldSampleOut(const PLUHitMap& hit);
};

}  // namespace loomset
