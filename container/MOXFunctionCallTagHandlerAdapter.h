// The tag evaluator a container hands its runtime: "_func" tags reach the application's tag
// handler registered on the container under the tag's name. Without such a handler nothing is
// called and nothing is logged. The answer is always the default string, since a tag has no value
// of its own.
//
// The adapter reaches the container's handler table, held weakly: the container owns the runtime,
// which owns "_func", which owns this adapter, so a strong reference would keep the table alive
// through its own runtime for no purpose. Once the table is gone, calls find no handler. The
// handler is looked up on every call, so a handler registered after the runtime was built is used
// from its registration on.
//
// Threads: `evaluate` runs on the evaluating thread; `setContainer` may race with it.
#pragma once

#include <memory>
#include <string>

#include "Library/Util/platform/Mutex.h"
#include "container/MOXFunctionCallHandlers.h"
#include "loomset/MOXCustomEvaluator.h"

namespace loomset {

class MOXFunctionCallTagHandlerAdapter final : public MOXCustomEvaluator {
 public:
  explicit MOXFunctionCallTagHandlerAdapter(std::weak_ptr<MOXFunctionCallHandlers> container);

  // Calls the handler, which may throw; "_func" catches and logs it.
  ObjectPtr evaluate(const std::string& name,
                     const std::shared_ptr<Dictionary>& parameters) override;

  std::shared_ptr<MOXFunctionCallHandlers> container() const;
  void setContainer(std::weak_ptr<MOXFunctionCallHandlers> container);

 private:
  mutable Mutex mu_;
  std::weak_ptr<MOXFunctionCallHandlers> container_ GUARDED_BY(mu_);
};

}  // namespace loomset
