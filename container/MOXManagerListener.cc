#include "container/MOXManagerListener.h"

#include <utility>

#include "loomset/MOXManager.h"

namespace loomset {

void MOXEventListener::changed(const std::shared_ptr<Dictionary>& update) {
  if (const auto name = eventName(update)) sink_(*name);
}

std::optional<std::string> MOXEventListener::eventName(const std::shared_ptr<Dictionary>& update) {
  if (!update) return std::nullopt;
  const ObjectPtr event = update->objectForKey("event");
  if (!event) return std::nullopt;
  return event->description();
}

MOXManagerListener::MOXManagerListener(std::weak_ptr<MOXManager> moxManager)
    : MOXEventListener([moxManager = std::move(moxManager)](const std::string& eventName) {
        if (const auto manager = moxManager.lock()) manager->refreshTagsInAllContainers(eventName);
      }) {}

}  // namespace loomset
