// Any text handed over as a preview link is recognised or refused without harm; an accepted
// entering link leaves a consistent preview state.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "container/preview/MOXPreviewManager.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  loomset::fuzzing::silenceLogs();
  const std::string text(loomset::fuzzing::textOf(data, size));
  const auto manager = loomset::MOXPreviewManager::instance();
  loomset::MOXPreviewManager::containerIdForQuery(text);
  if (manager->generatePreviewDataForUrl(text) && manager->previewMode() == 1) {
    const auto id = manager->containerId();
    if (!id || !manager->veskUrlPath() || !manager->isPreviewingContainer(*id)) std::abort();
  }
  manager->clear();
  return 0;
}
