#include "container/MOXContainerRuntime.h"

#include <exception>
#include <utility>

#include "container/MOXFunctionCallMacroHandlerAdapter.h"
#include "container/MOXFunctionCallTagHandlerAdapter.h"
#include "loomset/Exceptions.h"
#include "loomset/MOXLog.h"
#include "loomset/MOXTypes.h"

namespace loomset {
namespace {

// Evaluates and converts through `convert`; any failure answers `fallback` with the log lines
// named after the getter.
template <typename T, typename Convert>
T typedValue(const std::shared_ptr<MOXRuntime>& runtime, const std::string& key, const char* getter,
             T fallback, Convert convert) {
  if (!runtime) {
    MOXLog::error(std::string(getter) + " called for closed container");
    return fallback;
  }
  try {
    return convert(runtime->evaluateMacroReference(key).value());
  } catch (...) {
    logGetterException(getter, reasonOfCurrentGetterException());
  }
  return fallback;
}

// A String Value converts to its own text and an Integer Value to its own number: the getters'
// hot path skips building the object in between.
std::string textOf(const ValuePtr& v) {
  if (v && v->type() == MOXPValue::String) return v->string();
  return MOXTypes::valueToString(v)->text();
}

std::int64_t int64Of(const ValuePtr& v) {
  if (v && v->type() == MOXPValue::Integer) return static_cast<std::int64_t>(v->integer());
  return MOXTypes::valueToInt64(v)->longLongValue();
}

}  // namespace

std::string reasonOfCurrentGetterException() {
  try {
    throw;
  } catch (const LoomsetException& e) {
    return e.reason();
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "unknown exception";
  }
}

void logGetterException(const char* getter, const std::string& reason) {
  MOXLog::error(std::string("Calling ") + getter + " threw an exception: " + reason +
                " Returning default value.");
}

std::shared_ptr<MOXRuntime> MOXContainerRuntime::runtimeWithResource(
    MOXExpandedResourcePtr resource, std::shared_ptr<MOXDataLayer> dataLayer,
    const std::shared_ptr<MOXFunctionCallHandlers>& handlers) {
  return MOXRuntime::runtimeWithResource(
      std::move(resource), std::move(dataLayer),
      std::make_shared<MOXFunctionCallMacroHandlerAdapter>(handlers),
      std::make_shared<MOXFunctionCallTagHandlerAdapter>(handlers));
}

std::string MOXContainerRuntime::stringForKey(const std::shared_ptr<MOXRuntime>& runtime,
                                              const std::string& key) {
  return typedValue<std::string>(runtime, key, "stringForKey", MOXTypes::defaultString()->text(),
                                 textOf);
}

bool MOXContainerRuntime::booleanForKey(const std::shared_ptr<MOXRuntime>& runtime,
                                        const std::string& key) {
  return typedValue<bool>(
      runtime, key, "booleanForKey", MOXTypes::defaultBoolean()->boolValue(),
      [](const ValuePtr& v) { return MOXTypes::valueToBoolean(v)->boolValue(); });
}

double MOXContainerRuntime::doubleForKey(const std::shared_ptr<MOXRuntime>& runtime,
                                         const std::string& key) {
  return typedValue<double>(
      runtime, key, "doubleForKey", MOXTypes::defaultDouble()->doubleValue(),
      [](const ValuePtr& v) { return MOXTypes::valueToDouble(v)->doubleValue(); });
}

std::int64_t MOXContainerRuntime::int64ForKey(const std::shared_ptr<MOXRuntime>& runtime,
                                              const std::string& key) {
  return typedValue<std::int64_t>(runtime, key, "int64ForKey",
                                  MOXTypes::defaultInt64()->longLongValue(), int64Of);
}

}  // namespace loomset
