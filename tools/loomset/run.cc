// `loomset run`, in two modes. The protocol is described in docs/tools.md.
//
// `loomset run CONTAINER`: loads a container as a container loads its bundle default, builds a
// runtime over a data layer, forwards pushed events to tag evaluation, and answers JSON Lines
// steps (push, get, explain, dl, clear) read from a file or standard input, one result line per
// step that has one.
//
// `loomset run --container-id ID`: the library's real manager and containers (ManagerRun.h).
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "container/MOXContainerRuntime.h"
#include "container/MOXFunctionCallHandlers.h"
#include "container/MOXManagerListener.h"
#include "loomset/MOXDataLayer.h"
#include "loomset/MOXRuntime.h"
#include "loomset/platform/Platform.h"
#include "tools/loomset/Arguments.h"
#include "tools/loomset/ContainerFile.h"
#include "tools/loomset/DataLayerSteps.h"
#include "tools/loomset/ExplainStep.h"
#include "tools/loomset/JsonLines.h"
#include "tools/loomset/LineSink.h"
#include "tools/loomset/ManagerRun.h"
#include "tools/loomset/PrintingHandlers.h"
#include "tools/loomset/RunOptions.h"
#include "tools/loomset/StepReporter.h"
#include "tools/loomset/Subcommand.h"

namespace loomset::tools {
namespace {

// Answers the steps of one run over a runtime of its own.
class StepRunner {
 public:
  StepRunner(std::shared_ptr<MOXRuntime> runtime, std::shared_ptr<MOXDataLayer> dataLayer,
             LineSink& out)
      : runtime_(std::move(runtime)), dataLayer_(std::move(dataLayer)), report_(out) {}

  void run(const JsonLine& line) {
    if (!line.json) return report_.invalid(line, line.error);
    const Json& step = *line.json;
    if (!step.is_object()) return report_.invalid(line, "a step must be an object");
    if (step.contains("push")) return pushStep(report_, *dataLayer_, line, step);
    if (step.contains("get")) return get(line, step);
    if (step.contains("explain")) return explain(line, step);
    if (step.contains("dl")) return dlStep(report_, *dataLayer_, line, step);
    if (step.contains("clear")) return clearStep(report_, *dataLayer_, line, step);
    report_.invalid(line,
                    "unknown step (expected \"push\", \"get\", \"explain\", \"dl\" or \"clear\")");
  }

 private:
  void get(const JsonLine& line, const Json& step) {
    if (!report_.onlyMembers(line, step, {"get", "type"})) return;
    const std::string* key = report_.text(line, step, "get");
    if (!key) return;
    const auto type = getStepType(report_, line, step);
    if (!type) return;
    TypedGetters getters;
    getters.string = [this](const std::string& k) {
      return MOXContainerRuntime::stringForKey(runtime_, k);
    };
    getters.boolean = [this](const std::string& k) {
      return MOXContainerRuntime::booleanForKey(runtime_, k);
    };
    getters.float64 = [this](const std::string& k) {
      return MOXContainerRuntime::doubleForKey(runtime_, k);
    };
    getters.int64 = [this](const std::string& k) {
      return MOXContainerRuntime::int64ForKey(runtime_, k);
    };
    writeGetLine(report_, *key, *type, getters);
  }

  void explain(const JsonLine& line, const Json& step) {
    if (!report_.onlyMembers(line, step, {"explain", "type"})) return;
    const std::string* key = report_.text(line, step, "explain");
    if (!key) return;
    const auto type = getStepType(report_, line, step);
    if (!type) return;
    DetailGetters getters;
    getters.string = [this](const std::string& k) {
      return MOXContainerRuntime::stringDetailForKey(runtime_, k);
    };
    getters.boolean = [this](const std::string& k) {
      return MOXContainerRuntime::booleanDetailForKey(runtime_, k);
    };
    getters.float64 = [this](const std::string& k) {
      return MOXContainerRuntime::doubleDetailForKey(runtime_, k);
    };
    getters.int64 = [this](const std::string& k) {
      return MOXContainerRuntime::int64DetailForKey(runtime_, k);
    };
    writeExplainLine(report_, *key, *type, getters);
  }

  const std::shared_ptr<MOXRuntime> runtime_;
  const std::shared_ptr<MOXDataLayer> dataLayer_;
  StepReporter report_;
};

int runContainerFile(const Arguments& parsed) {
  for (const char* option : kManagerRunOptions) {
    if (parsed.value(option)) {
      throw UsageError(std::string(option) + " goes with --container-id, not with a CONTAINER");
    }
  }
  if (!parsed.values(kPixelWrapperOption).empty()) {
    throw UsageError(std::string(kPixelWrapperOption) +
                     " goes with --container-id, not with a CONTAINER");
  }
  if (parsed.positionals().size() != 1) {
    throw UsageError("expected exactly one CONTAINER (or --container-id ID)");
  }
  const std::string& containerPath = parsed.positionals()[0];

  std::optional<MessageKind> kind;
  if (const auto as = parsed.value("--as")) {
    kind = messageKindNamed(*as);
    if (!kind) throw UsageError("--as takes resource, supplemented or saved, not \"" + *as + "\"");
  }
  applyContainerLogLevel(parsed.value("--log-level"));
  std::vector<std::pair<std::string, Json>> macroHandlers;
  for (const std::string& option : parsed.values("--macro-handler")) {
    macroHandlers.push_back(parseMacroHandlerOption(option));
  }
  std::ifstream stepsFile;
  if (const auto steps = parsed.value("--steps")) {
    stepsFile.open(*steps);
    if (!stepsFile) throw UsageError("cannot open --steps " + *steps);
  }

  const RunDataRoot dataRoot(parsed.value("--data-dir"));
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

  LineSink out(std::cout);
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

}  // namespace

int runMain(const std::vector<std::string>& args) {
  std::set<std::string> withValue{"--as",        "--steps",   "--tag-handler", "--macro-handler",
                                  "--log-level", "--data-dir"};
  withValue.insert(std::begin(kManagerRunOptions), std::end(kManagerRunOptions));
  const Arguments parsed = Arguments::parse(
      args, OptionSpec{withValue, {}, {"--tag-handler", "--macro-handler"}, {kPixelWrapperOption}});
  if (parsed.value("--container-id")) return runWithContainerId(parsed);
  return runContainerFile(parsed);
}

}  // namespace loomset::tools
