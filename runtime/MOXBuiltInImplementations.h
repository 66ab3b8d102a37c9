// The implementations every runtime registers when it is built. Further built-in macros and tags
// join the lists in MOXBuiltInImplementations.cc.
#pragma once

#include <memory>

#include "loomset/MOXCustomEvaluator.h"
#include "loomset/MOXRuntime.h"

namespace loomset {

void registerBuiltInImplementations(MOXRuntime& runtime,
                                    const std::shared_ptr<MOXCustomEvaluator>& macroEvaluator,
                                    const std::shared_ptr<MOXCustomEvaluator>& tagEvaluator);

}  // namespace loomset
