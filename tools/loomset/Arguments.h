// Command-line parsing shared by the subcommands: options with values ("--steps FILE",
// "--steps=FILE", "-o FILE"), options with two values ("--pixel-wrapper URL PARAM"), flags,
// repeatable options, positionals, and "--" to end options. Anything unexpected is a UsageError,
// which the tool's main turns into exit status 1.
//
// Threads: plain values; any thread.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace loomset::tools {

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct OptionSpec {
  std::set<std::string> withValue;      // e.g. "--steps", "-o"
  std::set<std::string> flags;          // e.g. "--dry-run"
  std::set<std::string> repeatable;     // among withValue: may be given more than once
  std::set<std::string> withTwoValues;  // e.g. "--pixel-wrapper URL PARAM"; `values` holds both
};

class Arguments {
 public:
  // Throws UsageError for an unknown option, a missing value, or a non-repeatable option given
  // twice.
  static Arguments parse(const std::vector<std::string>& args, const OptionSpec& known);

  const std::vector<std::string>& positionals() const { return positionals_; }
  std::optional<std::string> value(const std::string& option) const;
  std::vector<std::string> values(const std::string& option) const;
  bool flag(const std::string& option) const { return flags_.count(option) > 0; }

 private:
  std::vector<std::string> positionals_;
  std::map<std::string, std::vector<std::string>> values_;
  std::set<std::string> flags_;
};

}  // namespace loomset::tools
