// The macro evaluator a container hands its runtime: "_func" macros take their value from the
// application's macro handler registered on the container under the macro's name. Without such a
// handler the answer is null, which "_func" turns into the default value.
//
// The container's handler table is held weakly, for the reason given with
// MOXFunctionCallTagHandlerAdapter.
//
// Threads: `evaluate` runs on the evaluating thread, possibly on several at once; `setContainer`
// may race with it.
#pragma once

#include <memory>
#include <string>

#include "Library/Util/platform/Mutex.h"
#include "container/MOXFunctionCallHandlers.h"
#include "loomset/MOXCustomEvaluator.h"

namespace loomset {

class MOXFunctionCallMacroHandlerAdapter final : public MOXCustomEvaluator {
 public:
  explicit MOXFunctionCallMacroHandlerAdapter(std::weak_ptr<MOXFunctionCallHandlers> container);

  // The handler's answer, or null; the handler may throw, and "_func" catches and logs it.
  ObjectPtr evaluate(const std::string& name,
                     const std::shared_ptr<Dictionary>& parameters) override;

  std::shared_ptr<MOXFunctionCallHandlers> container() const;
  void setContainer(std::weak_ptr<MOXFunctionCallHandlers> container);

 private:
  mutable Mutex mu_;
  std::weak_ptr<MOXFunctionCallHandlers> container_ GUARDED_BY(mu_);
};

}  // namespace loomset
