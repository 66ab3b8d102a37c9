// The macro evaluator a container hands its runtime: "_func" macros take their value from the
// application's macro handler registered under the macro's name. Without such a handler the
// answer is null, which "_func" turns into the default value.
//
// The container is held weakly, for the reason given with MOXFunctionCallTagHandlerAdapter.
//
// Threads: `evaluate` runs on the evaluating thread, possibly on several at once; `setContainer`
// may race with it.
#pragma once

#include <memory>
#include <string>

#include "Library/Util/platform/Mutex.h"
#include "loomset/MOXCustomEvaluator.h"
#include "loomset/MOXFunctionCallHandlerRegistry.h"

namespace loomset {

class MOXFunctionCallMacroHandlerAdapter final : public MOXCustomEvaluator {
 public:
  explicit MOXFunctionCallMacroHandlerAdapter(
      std::weak_ptr<MOXFunctionCallHandlerRegistry> container);

  // The handler's answer, or null; the handler may throw, and "_func" catches and logs it.
  ObjectPtr evaluate(const std::string& name,
                     const std::shared_ptr<Dictionary>& parameters) override;

  std::shared_ptr<MOXFunctionCallHandlerRegistry> container() const;
  void setContainer(std::weak_ptr<MOXFunctionCallHandlerRegistry> container);

 private:
  mutable Mutex mu_;
  std::weak_ptr<MOXFunctionCallHandlerRegistry> container_ GUARDED_BY(mu_);
};

}  // namespace loomset
