#include "tools/loomset/EventForwarder.h"

namespace loomset::tools {

void EventForwarder::changed(const std::shared_ptr<Dictionary>& update) {
  if (!update) return;
  if (const ObjectPtr event = update->objectForKey("event")) {
    runtime_->evaluateTags(event->description());
  }
}

}  // namespace loomset::tools
