// The "_func" handlers that `loomset run` registers from its options: a tag handler that prints
// {"tag": NAME, "params": {...}} when a rule fires it (`--tag-handler NAME`), and a macro handler
// that answers a fixed JSON value (`--macro-handler NAME=JSON`).
//
// Threads: any thread (the sink is thread-safe; the macro handler's value never changes).
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "loomset/MOXFunctionCallMacroHandler.h"
#include "loomset/MOXFunctionCallTagHandler.h"
#include "tools/loomset/LineSink.h"

namespace loomset::tools {

class PrintingTagHandler final : public MOXFunctionCallTagHandler {
 public:
  explicit PrintingTagHandler(LineSink& out) : out_(out) {}
  void execute(const std::string& tagName, const std::shared_ptr<Dictionary>& parameters) override;

 private:
  LineSink& out_;
};

class JsonValueMacroHandler final : public MOXFunctionCallMacroHandler {
 public:
  explicit JsonValueMacroHandler(Json value) : value_(std::move(value)) {}
  // A fresh object each time: the caller may keep or change what it gets.
  ObjectPtr valueForMacro(const std::string&, const std::shared_ptr<Dictionary>&) override;

 private:
  const Json value_;
};

// "NAME=JSON" as given to --macro-handler; throws UsageError when it is not.
std::pair<std::string, Json> parseMacroHandlerOption(const std::string& option);

}  // namespace loomset::tools
