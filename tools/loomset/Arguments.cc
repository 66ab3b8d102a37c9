#include "tools/loomset/Arguments.h"

namespace loomset::tools {

Arguments Arguments::parse(const std::vector<std::string>& args, const OptionSpec& known) {
  Arguments out;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      out.positionals_.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    std::string name = arg;
    std::optional<std::string> inlineValue;
    if (const auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      name = arg.substr(0, eq);
      inlineValue = arg.substr(eq + 1);
    }
    if (known.flags.count(name)) {
      if (inlineValue) throw UsageError(name + " takes no value");
      out.flags_.insert(name);
      continue;
    }
    if (known.withTwoValues.count(name)) {
      if (inlineValue) throw UsageError(name + " takes two values, not \"=\"");
      if (i + 2 >= args.size()) throw UsageError(name + " needs two values");
      auto& pair = out.values_[name];
      if (!pair.empty()) throw UsageError(name + " given twice");
      pair.push_back(args[i + 1]);
      pair.push_back(args[i + 2]);
      i += 2;
      continue;
    }
    if (!known.withValue.count(name)) throw UsageError("unknown option " + name);
    std::string value;
    if (inlineValue) {
      value = *inlineValue;
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      throw UsageError(name + " needs a value");
    }
    auto& list = out.values_[name];
    if (!list.empty() && !known.repeatable.count(name)) throw UsageError(name + " given twice");
    list.push_back(std::move(value));
  }
  return out;
}

std::optional<std::string> Arguments::value(const std::string& option) const {
  const auto it = values_.find(option);
  if (it == values_.end() || it->second.empty()) return std::nullopt;
  return it->second.back();
}

std::vector<std::string> Arguments::values(const std::string& option) const {
  const auto it = values_.find(option);
  return it == values_.end() ? std::vector<std::string>{} : it->second;
}

}  // namespace loomset::tools
