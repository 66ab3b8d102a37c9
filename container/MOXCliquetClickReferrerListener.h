// The data-layer listener that records ad-click referrers: an update carrying a URL under
// "wen.url" (or "url" inside a "wen" map) whose query has a "referrer" component hands that
// referrer to MOXClickReferrerUtil.
//
// Threads: called on whichever thread pushes; keeps no state.
#pragma once

#include <memory>

#include "loomset/MOXDataLayer.h"

namespace loomset {

class MOXCliquetClickReferrerListener final : public MOXDataLayerListener {
 public:
  void changed(const std::shared_ptr<Dictionary>& update) override;
};

}  // namespace loomset
