// "_img": requests an arbitrary URL (a pixel) through the pixel dispatcher. Arguments: "url"
// (required), "unrepeatable" (an id: a pixel with an id already seen, also in an earlier run, is
// not sent again) and "additional_params" (a list of maps whose entries are appended to the URL
// as escaped query parameters, in order).
//
// The ids seen are one process-wide set, kept in the property-list file "wen_img_unrepeatable"
// of the Documents directory as a map from id to "true"; the file is read once, when the set is
// first needed, and rewritten whole (in the background) when an id joins.
//
// Threads: fires on the thread that evaluates the event; the set has a lock of its own.
#pragma once

#include <memory>
#include <string>

#include "loomset/MOXTrackingTag.h"

namespace loomset {

class MOXDispatcher;

class MOXArbitraryPixel final : public MOXTrackingTag {
 public:
  static const std::string& functionId();  // "_img"
  static const std::string& urlKey();      // "url"
  static constexpr const char* kUnrepeatableFile = "wen_img_unrepeatable";

  MOXArbitraryPixel();

  // Whether the id has been seen (in this run or an earlier one).
  static bool idProcessed(const std::string& id);
  static void cacheUnrepeatableId(const std::string& id);
  // Forgets the in-memory set; the file is read again when next needed.
  static void clearCache();

 protected:
  void evaluateTrackingTag(const MOXParameterMap& parameters) override;
};

}  // namespace loomset
