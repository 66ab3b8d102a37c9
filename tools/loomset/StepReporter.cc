#include "tools/loomset/StepReporter.h"

#include <cmath>
#include <exception>
#include <string>

#include "loomset/Exceptions.h"

namespace loomset::tools {

void StepReporter::invalid(const JsonLine& line, const std::string& reason) {
  Json out = Json::object();
  out["error"] = "InvalidStep";
  out["reason"] = reason;
  out["line"] = line.lineNumber;
  out_.write(out);
}

void StepReporter::notOpen(const JsonLine& line, const std::string& containerId) {
  Json out = Json::object();
  out["error"] = "NotOpen";
  out["container"] = containerId;
  out["line"] = line.lineNumber;
  out_.write(out);
}

bool StepReporter::onlyMembers(const JsonLine& line, const Json& step,
                               std::initializer_list<const char*> allowed) {
  for (const auto& item : step.items()) {
    bool known = false;
    for (const char* name : allowed) known |= item.key() == name;
    if (!known) {
      invalid(line, "unknown member \"" + item.key() + "\"");
      return false;
    }
  }
  return true;
}

const std::string* StepReporter::text(const JsonLine& line, const Json& step, const char* member) {
  const Json& value = step.at(member);
  if (!value.is_string()) {
    invalid(line,
            std::string("\"") + member + "\" must be a string, not " + describeJsonKind(value));
    return nullptr;
  }
  return &value.get_ref<const std::string&>();
}

bool StepReporter::milliseconds(const JsonLine& line, const Json& step, const char* member,
                                double max, double& value) {
  const Json& given = step.at(member);
  if (given.is_number()) {
    value = given.get<double>();
    if (std::isfinite(value) && value >= 0 && value <= max) return true;
  }
  const std::string range = std::isfinite(max)
                                ? "milliseconds from 0 to " + std::to_string(std::llround(max))
                                : "a number of milliseconds, not negative";
  invalid(line, std::string("\"") + member + "\" takes " + range);
  return false;
}

void StepReporter::guarded(const std::function<void()>& operation) {
  std::string name, reason;
  try {
    operation();
    return;
  } catch (const LoomsetException& e) {
    name = e.name();
    reason = e.reason();
  } catch (const std::exception& e) {
    name = "Exception";
    reason = e.what();
  } catch (...) {
    name = "Exception";
    reason = "unknown exception";
  }
  Json out = Json::object();
  out["error"] = name;
  out["reason"] = reason;
  out_.write(out);
}

}  // namespace loomset::tools
