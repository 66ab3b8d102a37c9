#include "tools/loomset/ManagerSteps.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <thread>

#include "loomset/MOXContainer.h"
#include "tools/loomset/DataLayerSteps.h"
#include "tools/loomset/ExplainStep.h"
#include "tools/loomset/PrintingContainerCallback.h"
#include "tools/loomset/PrintingHandlers.h"

namespace loomset::tools {
namespace {

constexpr double kMaxWaitMillis = 600000;

}  // namespace

ManagerSteps::ManagerSteps(std::shared_ptr<MOXManager> manager, Options options, LineSink& out,
                           SimulatedTime* simulated)
    : manager_(std::move(manager)),
      options_(std::move(options)),
      out_(out),
      report_(out),
      simulated_(simulated) {}

void ManagerSteps::start() {
  if (simulated_) simulated_->settle();
}

void ManagerSteps::run(const JsonLine& line) {
  if (!line.json) {
    report_.invalid(line, line.error);
  } else if (!line.json->is_object()) {
    report_.invalid(line, "a step must be an object");
  } else {
    dispatch(line, *line.json);
  }
  if (!simulated_) return;
  simulated_->settle();
  writeCompletedOpeners();
}

void ManagerSteps::closeAll() {
  for (const std::string& id : opened_) {
    if (const auto container = manager_->getContainerById(id)) container->close();
  }
  if (simulated_) simulated_->settle();
}

void ManagerSteps::dispatch(const JsonLine& line, const Json& step) {
  MOXDataLayer& dataLayer = *manager_->dataLayer();
  if (step.contains("push")) {
    SinkHold hold(out_);
    return pushStep(report_, dataLayer, line, step);
  }
  if (step.contains("get")) return get(line, step);
  if (step.contains("explain")) return explain(line, step);
  if (step.contains("dl")) return dlStep(report_, dataLayer, line, step);
  if (step.contains("clear")) {
    SinkHold hold(out_);
    return clearStep(report_, dataLayer, line, step);
  }
  if (step.contains("open")) return open(line, step);
  if (step.contains("opener")) return opener(line, step);
  if (step.contains("state")) return state(line, step);
  if (step.contains("refresh")) return refreshOrClose(line, step, "refresh");
  if (step.contains("close")) return refreshOrClose(line, step, "close");
  if (step.contains("preview")) return preview(line, step);
  if (step.contains("advance")) return advance(line, step);
  if (step.contains("dispatch")) return dispatchStep(line, step);
  if (step.contains("wait")) return wait(line, step);
  report_.invalid(line,
                  "unknown step (expected \"push\", \"get\", \"explain\", \"dl\", \"clear\", "
                  "\"open\", "
                  "\"opener\", \"state\", \"refresh\", \"close\", \"preview\", \"advance\", "
                  "\"dispatch\" or \"wait\")");
}

std::optional<std::string> ManagerSteps::containerIdOf(const JsonLine& line, const Json& step,
                                                       const char* member) {
  const Json& value = step.at(member);
  if (value == true) return options_.containerId;
  if (value.is_string() && !value.get_ref<const std::string&>().empty()) {
    return value.get<std::string>();
  }
  report_.invalid(line, std::string("\"") + member + "\" takes a container id or true, not " +
                            (value.is_string() ? "an empty string" : describeJsonKind(value)));
  return std::nullopt;
}

std::shared_ptr<MOXContainer> ManagerSteps::openContainer(const JsonLine& line,
                                                          const std::string& id) {
  auto container = manager_->getContainerById(id);
  if (!container) report_.notOpen(line, id);
  return container;
}

void ManagerSteps::registerHandlers(const std::shared_ptr<MOXContainer>& container) {
  if (!container) return;
  for (const std::string& name : options_.tagHandlers) {
    container->registerFunctionCallTagHandler(std::make_shared<PrintingTagHandler>(out_), name);
  }
  for (const auto& [name, value] : options_.macroHandlers) {
    container->registerFunctionCallMacroHandler(std::make_shared<JsonValueMacroHandler>(value),
                                                name);
  }
  if (std::find(opened_.begin(), opened_.end(), container->containerId()) == opened_.end()) {
    opened_.push_back(container->containerId());
  }
}

std::optional<ManagerSteps::Lookup> ManagerSteps::lookupOf(const JsonLine& line, const Json& step,
                                                           const char* verb) {
  if (!report_.onlyMembers(line, step, {verb, "type", "container"})) return std::nullopt;
  const std::string* key = report_.text(line, step, verb);
  if (!key) return std::nullopt;
  const auto type = getStepType(report_, line, step);
  if (!type) return std::nullopt;
  std::string id = options_.containerId;
  if (step.contains("container")) {
    const auto named = containerIdOf(line, step, "container");
    if (!named) return std::nullopt;
    id = *named;
  }
  auto container = openContainer(line, id);
  if (!container) return std::nullopt;
  return Lookup{*key, *type, std::move(container)};
}

void ManagerSteps::get(const JsonLine& line, const Json& step) {
  const auto lookup = lookupOf(line, step, "get");
  if (!lookup) return;
  const auto& container = lookup->container;
  TypedGetters getters;
  getters.string = [&](const std::string& k) { return container->stringForKey(k); };
  getters.boolean = [&](const std::string& k) { return container->booleanForKey(k); };
  getters.float64 = [&](const std::string& k) { return container->doubleForKey(k); };
  getters.int64 = [&](const std::string& k) { return container->int64ForKey(k); };
  writeGetLine(report_, lookup->key, lookup->type, getters);
}

void ManagerSteps::explain(const JsonLine& line, const Json& step) {
  const auto lookup = lookupOf(line, step, "explain");
  if (!lookup) return;
  const auto& container = lookup->container;
  DetailGetters getters;
  getters.string = [&](const std::string& k) { return container->stringDetailForKey(k); };
  getters.boolean = [&](const std::string& k) { return container->booleanDetailForKey(k); };
  getters.float64 = [&](const std::string& k) { return container->doubleDetailForKey(k); };
  getters.int64 = [&](const std::string& k) { return container->int64DetailForKey(k); };
  writeExplainLine(report_, lookup->key, lookup->type, getters);
}

void ManagerSteps::open(const JsonLine& line, const Json& step) {
  if (!report_.onlyMembers(line, step, {"open"})) return;
  const auto id = containerIdOf(line, step, "open");
  if (!id) return;
  // Held while the load starts: on real time its first callback may come from another thread
  // before this step's own line.
  SinkHold hold(out_);
  const auto container =
      manager_->openContainerById(*id, std::make_shared<PrintingContainerCallback>(out_));
  registerHandlers(container);
  Json out = Json::object();
  out["open"] = *id;
  out["ok"] = container != nullptr;
  out_.writeNow(out);
}

void ManagerSteps::opener(const JsonLine& line, const Json& step) {
  if (!report_.onlyMembers(line, step, {"opener", "type", "timeout"})) return;
  const auto id = containerIdOf(line, step, "opener");
  if (!id) return;
  if (!step.contains("type")) {
    return report_.invalid(line,
                           "\"opener\" needs \"type\": \"preferNonDefault\" or "
                           "\"preferFresh\"");
  }
  const std::string* typeName = report_.text(line, step, "type");
  if (!typeName) return;
  MOXOpenType type;
  if (*typeName == "preferNonDefault") {
    type = kMOXOpenTypePreferNonDefault;
  } else if (*typeName == "preferFresh") {
    type = kMOXOpenTypePreferFresh;
  } else {
    return report_.invalid(line, "unknown opener type \"" + *typeName +
                                     "\" (expected \"preferNonDefault\" or \"preferFresh\")");
  }
  std::optional<double> timeout;
  if (step.contains("timeout")) {
    const Json& given = step.at("timeout");
    if (!given.is_number() || !std::isfinite(given.get<double>()) || given.get<double>() < 0) {
      return report_.invalid(line, "\"timeout\" takes seconds, not negative");
    }
    timeout = given.get<double>();
  }

  if (!simulated_) {
    // Real time: the library's main loop runs on its own, and `get` waits for the opening.
    const auto future =
        MOXContainerOpener::openContainerWithId(*id, manager_, type, timeout ? &*timeout : nullptr);
    registerHandlers(manager_->getContainerById(*id));
    if (future) writeOpenerLine(*id, *future);
    return;
  }
  // Simulated time: `get` must not wait on the thread that runs the loops. The step's work is
  // settled first; a future not done by then is reported pending, and its line follows once
  // a later step's work completes it.
  out_.hold();
  const auto future =
      MOXContainerOpener::openContainerWithId(*id, manager_, type, timeout ? &*timeout : nullptr);
  registerHandlers(manager_->getContainerById(*id));
  simulated_->settle();
  if (future && !future->isDone()) {
    Json pending = Json::object();
    pending["opener"] = *id;
    pending["pending"] = true;
    out_.writeNow(pending);
  }
  out_.release();
  if (future) pendingOpeners_.push_back({*id, future});
}

void ManagerSteps::writeOpenerLine(const std::string& containerId, MOXContainerFuture& future) {
  const auto container = future.get();
  Json out = Json::object();
  out["opener"] = containerId;
  if (container) {
    out["isDefault"] = container->isDefault();
    out["version"] = container->resourceVersion();
  } else {
    out["open"] = false;
  }
  out_.write(out);
}

void ManagerSteps::writeCompletedOpeners() {
  auto it = pendingOpeners_.begin();
  while (it != pendingOpeners_.end()) {
    if (!it->future->isDone()) {
      ++it;
      continue;
    }
    writeOpenerLine(it->containerId, *it->future);
    it = pendingOpeners_.erase(it);
  }
}

void ManagerSteps::state(const JsonLine& line, const Json& step) {
  if (!report_.onlyMembers(line, step, {"state"})) return;
  const auto id = containerIdOf(line, step, "state");
  if (!id) return;
  Json out = Json::object();
  out["state"] = *id;
  const auto container = manager_->getContainerById(*id);
  if (!container) {
    out["open"] = false;
  } else {
    out["isDefault"] = container->isDefault();
    out["version"] = container->resourceVersion();
    out["lastRefreshTime"] = static_cast<std::int64_t>(std::llround(container->lastRefreshTime()));
  }
  out_.write(out);
}

void ManagerSteps::refreshOrClose(const JsonLine& line, const Json& step, const char* kind) {
  if (!report_.onlyMembers(line, step, {kind})) return;
  const auto id = containerIdOf(line, step, kind);
  if (!id) return;
  const auto container = openContainer(line, *id);
  if (!container) return;
  SinkHold hold(out_);
  if (std::string(kind) == "refresh") {
    container->refresh();
  } else {
    container->close();
  }
}

void ManagerSteps::preview(const JsonLine& line, const Json& step) {
  if (!report_.onlyMembers(line, step, {"preview"})) return;
  const std::string* url = report_.text(line, step, "preview");
  if (!url) return;
  SinkHold hold(out_);
  const bool accepted = manager_->previewWithUrl(*url);
  Json out = Json::object();
  out["preview"] = *url;
  out["accepted"] = accepted;
  out_.writeNow(out);
}

void ManagerSteps::advance(const JsonLine& line, const Json& step) {
  if (!report_.onlyMembers(line, step, {"advance"})) return;
  if (!simulated_) {
    return report_.invalid(line, "\"advance\" needs simulated time (--clock-start); use \"wait\"");
  }
  double millis = 0;
  if (!report_.milliseconds(line, step, "advance", std::numeric_limits<double>::infinity(),
                            millis)) {
    return;
  }
  simulated_->advance(millis);
}

void ManagerSteps::dispatchStep(const JsonLine& line, const Json& step) {
  if (!report_.onlyMembers(line, step, {"dispatch"})) return;
  if (step.at("dispatch") != true) return report_.invalid(line, "\"dispatch\" takes true");
  // On simulated time the handler runs while the step settles, so its line comes before the
  // next step's; on real time it comes when the dispatchers answer.
  pending_->started();
  manager_->dispatchWithCompletionHandler(
      [out = &out_, pending = pending_](PLUDispatchOutcome outcome) {
        Json result = Json::object();
        result["dispatch"] = static_cast<int>(outcome);
        out->write(result);
        pending->finished();
      });
}

void ManagerSteps::wait(const JsonLine& line, const Json& step) {
  if (!report_.onlyMembers(line, step, {"wait"})) return;
  if (simulated_) {
    return report_.invalid(line, "\"wait\" needs real time; on simulated time use \"advance\"");
  }
  double millis = 0;
  if (!report_.milliseconds(line, step, "wait", kMaxWaitMillis, millis)) return;
  std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(millis));
}

}  // namespace loomset::tools
