// Any body the container server answers a fetch with is parsed as the loader parses it; a parsed
// answer's resource expands or is refused as a container refuses it, its supplementals are read,
// and an expanded resource is evaluated.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "loomset/Exceptions.h"
#include "loomset/MOXResourceUtil.h"
#include "loomset/MOXRuntime.h"
#include "loomset/proto/serving.pb.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  loomset::fuzzing::silenceLogs();
  loomset::MOXPLegacyRawProtoSupplementedResource answer;
  if (!answer.ParseFromString(std::string(loomset::fuzzing::textOf(data, size)))) return 0;
  answer.ShortDebugString();
  if (!answer.has_resource()) return 0;
  loomset::MOXExpandedResourcePtr expanded;
  try {
    expanded = loomset::MOXResourceUtil::expandResource(answer.resource());
  } catch (const loomset::InvalidResourceException&) {
    return 0;
  }
  auto runtime = loomset::MOXRuntime::runtimeWithResource(expanded, loomset::MOXDataLayer::create(),
                                                          nullptr, nullptr);
  for (const auto& [name, calls] : expanded->allMacros()) runtime->evaluateMacroReference(name);
  runtime->evaluateTags("event");
  return 0;
}
