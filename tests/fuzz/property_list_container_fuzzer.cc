// Any bytes handed to the property-list default-container path (binary or XML) give a resource of
// constant macros or NotSupportedException, and every macro it defines can be looked up.
#include <cstddef>
#include <cstdint>

#include "fuzz/FuzzSupport.h"
#include "loomset/Exceptions.h"
#include "loomset/MOXRuntime.h"
#include "loomset/MOXSerialization.h"
#include "loomset/MOXTypes.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  loomset::fuzzing::silenceLogs();
  const auto object =
      loomset::MOXSerialization::objectFromPropertyList(loomset::fuzzing::textOf(data, size));
  if (!object) return 0;
  loomset::MOXExpandedResourcePtr resource;
  try {
    resource = loomset::MOXSerialization::expandedResourceFromDeserializedObject(object);
  } catch (const loomset::NotSupportedException&) {
    return 0;
  }
  auto runtime = loomset::MOXRuntime::runtimeWithResource(resource, nullptr, nullptr, nullptr);
  for (const auto& [name, calls] : resource->allMacros()) {
    loomset::MOXTypes::valueToString(runtime->evaluateMacroReference(name).value());
  }
  return 0;
}
