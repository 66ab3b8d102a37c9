// `loomset run CONTAINER`: loads a container as a container loads its bundle default, builds a
// runtime over a data layer, forwards pushed events to tag evaluation, and answers JSON Lines
// steps (push, get, dl, clear) read from a file or standard input, one result line per step that
// has one. The protocol is described in docs/tools.md.
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "container/MOXContainerRuntime.h"
#include "container/MOXFunctionCallHandlers.h"
#include "container/MOXManagerListener.h"
#include "loomset/Exceptions.h"
#include "loomset/MOXDataLayer.h"
#include "loomset/MOXLog.h"
#include "loomset/MOXRuntime.h"
#include "loomset/Objects.h"
#include "loomset/platform/Platform.h"
#include "tools/loomset/Arguments.h"
#include "tools/loomset/ContainerFile.h"
#include "tools/loomset/JsonLines.h"
#include "tools/loomset/JsonObjects.h"
#include "tools/loomset/Subcommand.h"

namespace loomset::tools {
namespace {

std::optional<std::uint32_t> logLevelNamed(const std::string& name) {
  static const std::map<std::string, std::uint32_t> levels = {
      {"verbose", kMOXLogLevelVerbose}, {"debug", kMOXLogLevelDebug}, {"info", kMOXLogLevelInfo},
      {"warning", kMOXLogLevelWarning}, {"error", kMOXLogLevelError}, {"none", kMOXLogLevelNone}};
  const auto it = levels.find(name);
  if (it == levels.end()) return std::nullopt;
  return it->second;
}

// A data root of the run's own when none is given, removed when the run ends, so that trying a
// container never touches the user's real data.
class DataRoot {
 public:
  explicit DataRoot(const std::optional<std::string>& given) {
    std::error_code ec;
    if (given) {
      path_ = *given;
      std::filesystem::create_directories(path_, ec);
      if (ec) throw UsageError("--data-dir " + path_ + ": " + ec.message());
      return;
    }
    std::string pattern =
        (std::filesystem::temp_directory_path(ec) / "loomset-run-XXXXXX").string();
    if (ec || !mkdtemp(pattern.data())) throw UsageError("cannot create a temporary data root");
    path_ = pattern;
    owned_ = true;
  }
  ~DataRoot() {
    if (!owned_) return;
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  DataRoot(const DataRoot&) = delete;
  DataRoot& operator=(const DataRoot&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  bool owned_ = false;
};

class PrintingTagHandler : public MOXFunctionCallTagHandler {
 public:
  explicit PrintingTagHandler(JsonLinesWriter& out) : out_(out) {}
  void execute(const std::string& tagName, const std::shared_ptr<Dictionary>& parameters) override {
    Json line = Json::object();
    line["tag"] = tagName;
    line["params"] = parameters ? objectToJson(parameters) : Json::object();
    out_.write(line);
  }

 private:
  JsonLinesWriter& out_;
};

class JsonValueMacroHandler : public MOXFunctionCallMacroHandler {
 public:
  explicit JsonValueMacroHandler(Json value) : value_(std::move(value)) {}
  // A fresh object each time: the caller may keep or change what it gets.
  ObjectPtr valueForMacro(const std::string&, const std::shared_ptr<Dictionary>&) override {
    return jsonToObject(value_);
  }

 private:
  const Json value_;
};

// Answers the steps of one run.
class StepRunner {
 public:
  StepRunner(std::shared_ptr<MOXRuntime> runtime, std::shared_ptr<MOXDataLayer> dataLayer,
             JsonLinesWriter& out)
      : runtime_(std::move(runtime)), dataLayer_(std::move(dataLayer)), out_(out) {}

  void run(const JsonLine& line) {
    if (!line.json) return invalid(line, line.error);
    const Json& step = *line.json;
    if (!step.is_object()) return invalid(line, "a step must be an object");
    if (step.contains("push")) return push(line, step);
    if (step.contains("get")) return get(line, step);
    if (step.contains("dl")) return dl(line, step);
    if (step.contains("clear")) return clear(line, step);
    invalid(line, "unknown step (expected \"push\", \"get\", \"dl\" or \"clear\")");
  }

 private:
  void invalid(const JsonLine& line, const std::string& reason) {
    Json out = Json::object();
    out["error"] = "InvalidStep";
    out["reason"] = reason;
    out["line"] = line.lineNumber;
    out_.write(out);
  }

  // True when the step has no members besides `allowed`; reports it otherwise.
  bool onlyMembers(const JsonLine& line, const Json& step,
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

  const std::string* text(const JsonLine& line, const Json& step, const char* member) {
    const Json& value = step.at(member);
    if (!value.is_string()) {
      invalid(line,
              std::string("\"") + member + "\" must be a string, not " + describeJsonKind(value));
      return nullptr;
    }
    return &value.get_ref<const std::string&>();
  }

  // Runs a data-layer operation; what it raises (a push loop, or a tag's failure passing
  // through the push) becomes an error line, and the run goes on.
  template <typename Operation>
  void guarded(Operation operation) {
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

  void push(const JsonLine& line, const Json& step) {
    if (!onlyMembers(line, step, {"push"})) return;
    const Json& update = step.at("push");
    if (!update.is_object()) {
      return invalid(line, "\"push\" must be an object, not " + describeJsonKind(update));
    }
    const auto dictionary = std::dynamic_pointer_cast<Dictionary>(jsonToObject(update));
    if (!dictionary) return invalid(line, "\"push\" must be an object, not the marker");
    guarded([&] { dataLayer_->push(dictionary); });
  }

  void get(const JsonLine& line, const Json& step) {
    if (!onlyMembers(line, step, {"get", "type"})) return;
    const std::string* key = text(line, step, "get");
    if (!key) return;
    std::string type = "string";
    if (step.contains("type")) {
      const std::string* given = text(line, step, "type");
      if (!given) return;
      type = *given;
    }
    Json value;
    if (type == "string") {
      value = MOXContainerRuntime::stringForKey(runtime_, *key);
    } else if (type == "boolean") {
      value = MOXContainerRuntime::booleanForKey(runtime_, *key);
    } else if (type == "double") {
      value = objectToJson(Number::float64(MOXContainerRuntime::doubleForKey(runtime_, *key)));
    } else if (type == "int64") {
      value = MOXContainerRuntime::int64ForKey(runtime_, *key);
    } else {
      return invalid(line, "unknown type \"" + type +
                               "\" (expected \"string\", \"boolean\", \"double\" or \"int64\")");
    }
    Json out = Json::object();
    out["get"] = *key;
    out["type"] = type;
    out["value"] = std::move(value);
    out_.write(out);
  }

  void dl(const JsonLine& line, const Json& step) {
    if (!onlyMembers(line, step, {"dl"})) return;
    const std::string* path = text(line, step, "dl");
    if (!path) return;
    Json out = Json::object();
    out["dl"] = *path;
    if (const ObjectPtr value = dataLayer_->get(*path)) {
      out["value"] = objectToJson(value);
    } else {
      out["absent"] = true;
    }
    out_.write(out);
  }

  void clear(const JsonLine& line, const Json& step) {
    if (!onlyMembers(line, step, {"clear"})) return;
    const std::string* prefix = text(line, step, "clear");
    if (!prefix) return;
    guarded([&] { dataLayer_->clearPersistentKeysWithPrefix(*prefix); });
  }

  const std::shared_ptr<MOXRuntime> runtime_;
  const std::shared_ptr<MOXDataLayer> dataLayer_;
  JsonLinesWriter& out_;
};

std::pair<std::string, Json> parseMacroHandler(const std::string& option) {
  const auto eq = option.find('=');
  if (eq == std::string::npos || eq == 0) {
    throw UsageError("--macro-handler takes NAME=JSON, not \"" + option + "\"");
  }
  try {
    return {option.substr(0, eq), parseStrictJson(option.substr(eq + 1))};
  } catch (const JsonInputError& e) {
    throw UsageError("--macro-handler " + option.substr(0, eq) +
                     ": the value is not JSON: " + e.what());
  }
}

}  // namespace

int runMain(const std::vector<std::string>& args) {
  const Arguments parsed =
      Arguments::parse(args, OptionSpec{{"--as", "--steps", "--tag-handler", "--macro-handler",
                                         "--log-level", "--data-dir"},
                                        {},
                                        {"--tag-handler", "--macro-handler"}});
  if (parsed.positionals().size() != 1) throw UsageError("expected exactly one CONTAINER");
  const std::string& containerPath = parsed.positionals()[0];

  std::optional<MessageKind> kind;
  if (const auto as = parsed.value("--as")) {
    kind = messageKindNamed(*as);
    if (!kind) throw UsageError("--as takes resource, supplemented or saved, not \"" + *as + "\"");
  }
  if (const auto level = parsed.value("--log-level")) {
    const auto named = logLevelNamed(*level);
    if (!named) {
      throw UsageError("--log-level takes verbose, debug, info, warning, error or none, not \"" +
                       *level + "\"");
    }
    MOXLog::logger()->setLogLevel(*named);
  }
  std::vector<std::pair<std::string, Json>> macroHandlers;
  for (const std::string& option : parsed.values("--macro-handler")) {
    macroHandlers.push_back(parseMacroHandler(option));
  }
  std::ifstream stepsFile;
  if (const auto steps = parsed.value("--steps")) {
    stepsFile.open(*steps);
    if (!stepsFile) throw UsageError("cannot open --steps " + *steps);
  }

  const DataRoot dataRoot(parsed.value("--data-dir"));
  auto platform = Platform::systemDefault();
  platform->directories = DataDirectories(dataRoot.path());
  Platform::setCurrent(platform);

  LoadedContainer container;
  try {
    container = loadContainerFile(containerPath, kind);
  } catch (const ContainerFileError& e) {
    std::cerr << "loomset run: " << containerPath << ": " << e.what() << "\n";
    return kExitInvalid;
  }

  JsonLinesWriter out(std::cout);
  auto handlers = std::make_shared<MOXFunctionCallHandlers>();
  for (const std::string& name : parsed.values("--tag-handler")) {
    handlers->registerFunctionCallTagHandler(std::make_shared<PrintingTagHandler>(out), name);
  }
  for (auto& [name, value] : macroHandlers) {
    handlers->registerFunctionCallMacroHandler(
        std::make_shared<JsonValueMacroHandler>(std::move(value)), name);
  }

  const auto dataLayer = MOXDataLayer::create();
  // Built, wired and read as a container's runtime is, without a container around it.
  const auto runtime =
      MOXContainerRuntime::runtimeWithResource(container.resource, dataLayer, handlers);
  const auto forwarder = std::make_shared<MOXEventListener>(
      [runtime](const std::string& eventName) { runtime->evaluateTags(eventName); });
  dataLayer->registerListener(forwarder);
  if (!container.supplementals.empty()) runtime->setSupplementals(container.supplementals);

  StepRunner runner(runtime, dataLayer, out);
  JsonLinesReader reader(stepsFile.is_open() ? static_cast<std::istream&>(stepsFile) : std::cin);
  JsonLine line;
  while (reader.next(line)) runner.run(line);

  // The listener holds the runtime, which holds the data layer that holds the listener.
  dataLayer->unregisterListener(forwarder);
  Platform::setCurrent(nullptr);
  return kExitSuccess;
}

}  // namespace loomset::tools
