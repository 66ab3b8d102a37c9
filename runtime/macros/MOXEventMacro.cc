#include "runtime/macros/MOXEventMacro.h"

#include "loomset/MOXRuntime.h"
#include "loomset/MOXTypes.h"
#include "loomset/Scalars.h"

namespace loomset {

const std::string& MOXEventMacro::functionId() {
  static const std::string id = "_e";
  return id;
}

MOXEventMacro::MOXEventMacro(std::weak_ptr<MOXRuntime> runtime)
    : MOXFunctionCallImplementation(functionId(), {}), runtime_(std::move(runtime)) {}

ValuePtr MOXEventMacro::evaluate(const MOXParameterMap&) {
  const std::shared_ptr<MOXRuntime> runtime = runtime_.lock();
  if (!runtime) return MOXTypes::defaultValue();
  std::optional<std::string> event = runtime->currentEventName();
  if (!event) return MOXTypes::defaultValue();
  return MOXTypes::objectToValue(String::create(std::move(*event)));
}

}  // namespace loomset
