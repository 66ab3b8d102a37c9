#include "tools/loomset/HandlerRegistry.h"

#include "loomset/MOXTypes.h"

namespace loomset::tools {
namespace {

class TagEvaluator : public MOXCustomEvaluator {
 public:
  explicit TagEvaluator(std::weak_ptr<MOXFunctionCallHandlerRegistry> registry)
      : registry_(std::move(registry)) {}
  ObjectPtr evaluate(const std::string& name,
                     const std::shared_ptr<Dictionary>& parameters) override {
    if (auto registry = registry_.lock()) {
      if (auto handler = registry->functionCallTagHandlerForTag(name)) {
        handler->execute(name, parameters);
      }
    }
    return MOXTypes::defaultString();
  }

 private:
  const std::weak_ptr<MOXFunctionCallHandlerRegistry> registry_;
};

class MacroEvaluator : public MOXCustomEvaluator {
 public:
  explicit MacroEvaluator(std::weak_ptr<MOXFunctionCallHandlerRegistry> registry)
      : registry_(std::move(registry)) {}
  ObjectPtr evaluate(const std::string& name,
                     const std::shared_ptr<Dictionary>& parameters) override {
    auto registry = registry_.lock();
    if (!registry) return nullptr;
    auto handler = registry->functionCallMacroHandlerForMacro(name);
    return handler ? handler->valueForMacro(name, parameters) : nullptr;
  }

 private:
  const std::weak_ptr<MOXFunctionCallHandlerRegistry> registry_;
};

}  // namespace

void HandlerRegistry::registerFunctionCallTagHandler(
    std::shared_ptr<MOXFunctionCallTagHandler> handler, const std::string& tagName) {
  std::lock_guard<std::mutex> lock(mu_);
  tags_[tagName] = std::move(handler);
}

void HandlerRegistry::registerFunctionCallMacroHandler(
    std::shared_ptr<MOXFunctionCallMacroHandler> handler, const std::string& macroName) {
  std::lock_guard<std::mutex> lock(mu_);
  macros_[macroName] = std::move(handler);
}

std::shared_ptr<MOXFunctionCallTagHandler> HandlerRegistry::functionCallTagHandlerForTag(
    const std::string& tagName) {
  std::lock_guard<std::mutex> lock(mu_);
  const auto it = tags_.find(tagName);
  return it == tags_.end() ? nullptr : it->second;
}

std::shared_ptr<MOXFunctionCallMacroHandler> HandlerRegistry::functionCallMacroHandlerForMacro(
    const std::string& macroName) {
  std::lock_guard<std::mutex> lock(mu_);
  const auto it = macros_.find(macroName);
  return it == macros_.end() ? nullptr : it->second;
}

std::shared_ptr<MOXCustomEvaluator> makeTagEvaluator(
    std::weak_ptr<MOXFunctionCallHandlerRegistry> registry) {
  return std::make_shared<TagEvaluator>(std::move(registry));
}

std::shared_ptr<MOXCustomEvaluator> makeMacroEvaluator(
    std::weak_ptr<MOXFunctionCallHandlerRegistry> registry) {
  return std::make_shared<MacroEvaluator>(std::move(registry));
}

}  // namespace loomset::tools
