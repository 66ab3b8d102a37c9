// Any bytes found in a container's saved-resource file load as a resource or as a reported
// failure, through the storage's own reading of the file; a loaded resource that expands is
// then evaluated.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "container/loading/MOXResourceStorageImpl.h"
#include "fuzz/FuzzSupport.h"
#include "loomset/Exceptions.h"
#include "loomset/MOXResourceUtil.h"
#include "loomset/MOXRuntime.h"
#include "loomset/platform/Platform.h"

namespace {

std::shared_ptr<loomset::MOXResourceStorageImpl> storage() {
  static const auto made = [] {
    char root[] = "/tmp/loomset-saved-resource-fuzz-XXXXXX";
    if (!::mkdtemp(root)) std::abort();
    auto platform = loomset::Platform::systemDefault();
    platform->directories = loomset::DataDirectories(root);
    loomset::Platform::setCurrent(platform);
    return loomset::MOXResourceStorageImpl::create("GTM-FUZZ");
  }();
  return made;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  loomset::fuzzing::silenceLogs();
  const auto store = storage();
  const auto path = store->resourceFilename();
  if (!path) std::abort();
  {
    std::ofstream out(*path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  const loomset::MOXSavedResourceOrFailure loaded = store->loadResourceFromDisk();
  if (!loaded.resource || !loaded.resource->has_resource()) return 0;
  loomset::MOXExpandedResourcePtr expanded;
  try {
    expanded = loomset::MOXResourceUtil::expandResource(loaded.resource->resource());
  } catch (const loomset::InvalidResourceException&) {
    return 0;
  }
  auto runtime = loomset::MOXRuntime::runtimeWithResource(expanded, loomset::MOXDataLayer::create(),
                                                          nullptr, nullptr);
  for (const auto& [name, calls] : expanded->allMacros()) runtime->evaluateMacroReference(name);
  return 0;
}
