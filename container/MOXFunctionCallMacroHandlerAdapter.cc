#include "container/MOXFunctionCallMacroHandlerAdapter.h"

#include <utility>

namespace loomset {

MOXFunctionCallMacroHandlerAdapter::MOXFunctionCallMacroHandlerAdapter(
    std::weak_ptr<MOXFunctionCallHandlers> container)
    : container_(std::move(container)) {}

ObjectPtr MOXFunctionCallMacroHandlerAdapter::evaluate(
    const std::string& name, const std::shared_ptr<Dictionary>& parameters) {
  auto registry = container();
  if (!registry) return nullptr;
  auto handler = registry->functionCallMacroHandlerForMacro(name);
  if (!handler) return nullptr;
  return handler->valueForMacro(name, parameters);
}

std::shared_ptr<MOXFunctionCallHandlers> MOXFunctionCallMacroHandlerAdapter::container() const {
  MutexLock lock(mu_);
  return container_.lock();
}

void MOXFunctionCallMacroHandlerAdapter::setContainer(
    std::weak_ptr<MOXFunctionCallHandlers> container) {
  MutexLock lock(mu_);
  container_ = std::move(container);
}

}  // namespace loomset
