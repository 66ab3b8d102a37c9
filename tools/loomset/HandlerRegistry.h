// Application handlers for "_func" tags and macros, kept by name the way a container keeps them,
// and the two evaluators through which a runtime reaches them: a tag evaluator that calls the
// tag handler of the name (nothing without one) and answers the default string, and a macro
// evaluator that answers the macro handler's value (null without one).
//
// Ownership: the evaluators hold the registry weakly, as a container's adapters hold their
// container, so a registry that owns a runtime through other objects is not kept alive by it.
// Threads: registration and look-ups may run on any thread.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "loomset/MOXCustomEvaluator.h"
#include "loomset/MOXFunctionCallHandlerRegistry.h"

namespace loomset::tools {

class HandlerRegistry : public MOXFunctionCallHandlerRegistry {
 public:
  // A later handler under the same name replaces the earlier one.
  void registerFunctionCallTagHandler(std::shared_ptr<MOXFunctionCallTagHandler> handler,
                                      const std::string& tagName);
  void registerFunctionCallMacroHandler(std::shared_ptr<MOXFunctionCallMacroHandler> handler,
                                        const std::string& macroName);

  std::shared_ptr<MOXFunctionCallTagHandler> functionCallTagHandlerForTag(
      const std::string& tagName) override;
  std::shared_ptr<MOXFunctionCallMacroHandler> functionCallMacroHandlerForMacro(
      const std::string& macroName) override;

 private:
  std::mutex mu_;
  std::map<std::string, std::shared_ptr<MOXFunctionCallTagHandler>> tags_;      // guarded by mu_
  std::map<std::string, std::shared_ptr<MOXFunctionCallMacroHandler>> macros_;  // guarded by mu_
};

std::shared_ptr<MOXCustomEvaluator> makeTagEvaluator(
    std::weak_ptr<MOXFunctionCallHandlerRegistry> registry);
std::shared_ptr<MOXCustomEvaluator> makeMacroEvaluator(
    std::weak_ptr<MOXFunctionCallHandlerRegistry> registry);

}  // namespace loomset::tools
