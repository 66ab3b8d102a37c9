// The implementations every runtime registers when it is built. Declared here, beside the runtime
// that calls it, and defined by the container half (container/MOXBuiltInImplementations.cc),
// which sits above the tags: so the runtime never includes a tag, and the delivering tags can
// reach the analytics half without the runtime depending on it.
#pragma once

#include <memory>

#include "loomset/MOXCustomEvaluator.h"
#include "loomset/MOXRuntime.h"

namespace loomset {

void registerBuiltInImplementations(MOXRuntime& runtime,
                                    const std::shared_ptr<MOXCustomEvaluator>& macroEvaluator,
                                    const std::shared_ptr<MOXCustomEvaluator>& tagEvaluator);

}  // namespace loomset
