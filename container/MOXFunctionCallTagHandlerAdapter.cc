#include "container/MOXFunctionCallTagHandlerAdapter.h"

#include <utility>

#include "loomset/MOXTypes.h"

namespace loomset {

MOXFunctionCallTagHandlerAdapter::MOXFunctionCallTagHandlerAdapter(
    std::weak_ptr<MOXFunctionCallHandlers> container)
    : container_(std::move(container)) {}

ObjectPtr MOXFunctionCallTagHandlerAdapter::evaluate(
    const std::string& name, const std::shared_ptr<Dictionary>& parameters) {
  if (auto registry = container()) {
    // Looked up on every call: a handler registered after the runtime was built is used too.
    if (auto handler = registry->functionCallTagHandlerForTag(name)) {
      handler->execute(name, parameters);
    }
  }
  return MOXTypes::defaultString();
}

std::shared_ptr<MOXFunctionCallHandlers> MOXFunctionCallTagHandlerAdapter::container() const {
  MutexLock lock(mu_);
  return container_.lock();
}

void MOXFunctionCallTagHandlerAdapter::setContainer(
    std::weak_ptr<MOXFunctionCallHandlers> container) {
  MutexLock lock(mu_);
  container_ = std::move(container);
}

}  // namespace loomset
