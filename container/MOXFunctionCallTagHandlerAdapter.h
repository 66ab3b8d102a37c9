// The tag evaluator a container hands its runtime: "_func" tags reach the application's tag
// handler registered under the tag's name. Without such a handler nothing is called and nothing
// is logged. The answer is always the default string, since a tag has no value of its own.
//
// The container is held weakly: it owns the runtime, which owns "_func", which owns this adapter,
// so a strong reference would keep every container alive through its own runtime. Once the
// container is gone, calls find no handler.
//
// Threads: `evaluate` runs on the evaluating thread; `setContainer` may race with it.
#pragma once

#include <memory>
#include <string>

#include "Library/Util/platform/Mutex.h"
#include "loomset/MOXCustomEvaluator.h"
#include "loomset/MOXFunctionCallHandlerRegistry.h"

namespace loomset {

class MOXFunctionCallTagHandlerAdapter final : public MOXCustomEvaluator {
 public:
  explicit MOXFunctionCallTagHandlerAdapter(
      std::weak_ptr<MOXFunctionCallHandlerRegistry> container);

  // Calls the handler, which may throw; "_func" catches and logs it.
  ObjectPtr evaluate(const std::string& name,
                     const std::shared_ptr<Dictionary>& parameters) override;

  std::shared_ptr<MOXFunctionCallHandlerRegistry> container() const;
  void setContainer(std::weak_ptr<MOXFunctionCallHandlerRegistry> container);

 private:
  mutable Mutex mu_;
  std::weak_ptr<MOXFunctionCallHandlerRegistry> container_ GUARDED_BY(mu_);
};

}  // namespace loomset
