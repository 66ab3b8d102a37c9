// A tracker model as it waits for the dispatcher's worker: the fields that differ from the
// environment's defaults packed into one string, beside the store and environment the model reads.
// An event hit takes a few hundred bytes this way instead of a map node per field.
//
// A packed model can be thinned to the fields that still matter for a hit that will not be kept
// (tracking and client ids, sampling, and what the install-campaign hit copies): building it then
// numbers, samples and counts exactly as the whole model would.
//
// Threads: a packed model is a value; it belongs to whoever holds it.
#pragma once

#include <memory>
#include <string>

#include "analytics/model/PLUTrackerModel.h"

namespace loomset {

class PLUPackedModel {
 public:
  PLUPackedModel() = default;
  explicit PLUPackedModel(const PLUTrackerModel& model);

  // The model again, equal to the one packed (or to its thinned fields).
  PLUTrackerModel unpack() const;
  // Keeps only the fields that decide a hit's number, sampling and install-campaign hit.
  void thin();
  bool isThinned() const { return thinned_; }
  // The model carries a sample rate: whether its hit is kept depends on the client id.
  bool mayBeSampledOut() const { return mayBeSampledOut_; }
  std::size_t packedBytes() const { return fields_.capacity(); }

 private:
  struct Sources {
    std::shared_ptr<PLUClientProperties> dataStore;
    std::shared_ptr<const PLUModelEnvironment> environment;
  };

  std::shared_ptr<const Sources> sources_;  // shared by the models of one tracker in a row
  std::string fields_;  // per field: key length, key, value flag, value length, value
  bool allowIDFACollection_ = false;
  bool mayBeSampledOut_ = false;
  bool thinned_ = false;
};

}  // namespace loomset
