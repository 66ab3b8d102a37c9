// C callbacks behind the container's tag and macro handler interfaces. The wrappers hand the
// parameters over as JSON, catch everything (a C++ callback may throw, JSON may not convert), and
// call the caller's release function once when the wrapper goes away.
#pragma once

#include <memory>

#include "loomset/MOXFunctionCallMacroHandler.h"
#include "loomset/MOXFunctionCallTagHandler.h"
#include "loomset/Object.h"
#include "loomset/loomset.h"

// The answer a macro handler sets during its call.
struct loomset_macro_result {
  loomset::ObjectPtr value;
};

namespace loomset::capi {

class CTagHandler final : public MOXFunctionCallTagHandler {
 public:
  CTagHandler(loomset_tag_handler handler, void* userData, loomset_release_fn release)
      : handler_(handler), userData_(userData), release_(release) {}
  ~CTagHandler() override;
  void execute(const std::string& tagName, const std::shared_ptr<Dictionary>& parameters) override;

 private:
  const loomset_tag_handler handler_;
  void* const userData_;
  const loomset_release_fn release_;
};

class CMacroHandler final : public MOXFunctionCallMacroHandler {
 public:
  CMacroHandler(loomset_macro_handler handler, void* userData, loomset_release_fn release)
      : handler_(handler), userData_(userData), release_(release) {}
  ~CMacroHandler() override;
  ObjectPtr valueForMacro(const std::string& macroName,
                          const std::shared_ptr<Dictionary>& parameters) override;

 private:
  const loomset_macro_handler handler_;
  void* const userData_;
  const loomset_release_fn release_;
};

}  // namespace loomset::capi
