// The data-layer listener that turns pushed events into tag evaluation, as a container manager's
// listener does: an update with an "event" entry makes the runtime evaluate its tags with the
// entry's text form; other updates do nothing. Whatever the evaluation raises passes on to the
// caller of the push.
//
// Ownership: holds the runtime strongly; unregister it to let the runtime go, since the runtime
// holds the data layer that holds its listeners.
// Threads: `changed` runs on the pushing thread.
#pragma once

#include <memory>

#include "loomset/MOXDataLayer.h"
#include "loomset/MOXRuntime.h"

namespace loomset::tools {

class EventForwarder : public MOXDataLayerListener {
 public:
  explicit EventForwarder(std::shared_ptr<MOXRuntime> runtime) : runtime_(std::move(runtime)) {}
  void changed(const std::shared_ptr<Dictionary>& update) override;

 private:
  const std::shared_ptr<MOXRuntime> runtime_;
};

}  // namespace loomset::tools
