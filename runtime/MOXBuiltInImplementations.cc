#include "runtime/MOXBuiltInImplementations.h"

#include "runtime/macros/MOXConstantMacro.h"
#include "runtime/macros/MOXDataLayerMacro.h"
#include "runtime/macros/MOXEventMacro.h"
#include "runtime/predicates/MOXNumberPredicate.h"
#include "runtime/predicates/MOXRegex.h"
#include "runtime/predicates/MOXStringPredicate.h"
#include "tags/MOXDataLayerWrite.h"

namespace loomset {

void registerBuiltInImplementations(MOXRuntime& runtime,
                                    const std::shared_ptr<MOXCustomEvaluator>& macroEvaluator,
                                    const std::shared_ptr<MOXCustomEvaluator>& tagEvaluator) {
  // The custom-function evaluators are taken by "_func", which registers here once it exists.
  (void)macroEvaluator;
  (void)tagEvaluator;

  runtime.addTrackingTag(std::make_shared<MOXDataLayerWrite>(runtime.dataLayer()));

  runtime.addPredicate(std::make_shared<MOXContains>());
  runtime.addPredicate(std::make_shared<MOXEndsWith>());
  runtime.addPredicate(std::make_shared<MOXEquals>());
  runtime.addPredicate(std::make_shared<MOXGreaterEquals>());
  runtime.addPredicate(std::make_shared<MOXGreaterThan>());
  runtime.addPredicate(std::make_shared<MOXLessEquals>());
  runtime.addPredicate(std::make_shared<MOXLessThan>());
  runtime.addPredicate(std::make_shared<MOXRegex>());
  runtime.addPredicate(std::make_shared<MOXStartsWith>());

  runtime.addMacro(std::make_shared<MOXConstantMacro>());
  runtime.addMacro(std::make_shared<MOXDataLayerMacro>(runtime.dataLayer()));
  runtime.addMacro(std::make_shared<MOXEventMacro>(runtime.weak_from_this()));
}

}  // namespace loomset
