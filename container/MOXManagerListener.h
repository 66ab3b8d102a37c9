// Data-layer listeners that turn pushed events into tag evaluation. An update with an "event"
// entry is an event, named by the entry's text form (a number pushed as the event gives its
// digits); other updates do nothing.
//
// MOXEventListener hands the name to a function: the tools use it to drive one container-less
// runtime. MOXManagerListener, which the manager registers on its data layer, makes every open
// container of the manager evaluate its tags.
//
// Ownership: MOXManagerListener holds its manager weakly, since the manager owns the data layer
// that holds the listener.
// Threads: `changed` runs on the pushing thread; whatever the evaluation raises passes on to the
// caller of the push.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "loomset/Export.h"
#include "loomset/MOXDataLayer.h"

namespace loomset {

class MOXManager;

class LOOMSET_EXPORT MOXEventListener : public MOXDataLayerListener {
 public:
  using Sink = std::function<void(const std::string& eventName)>;
  explicit MOXEventListener(Sink sink) : sink_(std::move(sink)) {}
  void changed(const std::shared_ptr<Dictionary>& update) override;

  // The text form of the update's "event" entry, or nothing when it has none.
  static std::optional<std::string> eventName(const std::shared_ptr<Dictionary>& update);

 private:
  const Sink sink_;
};

class MOXManagerListener final : public MOXEventListener {
 public:
  explicit MOXManagerListener(std::weak_ptr<MOXManager> moxManager);
};

}  // namespace loomset
