// `loomset track`: drives the analytics half through its public API (the facade and trackers)
// so that hits can be checked against any collector. JSON Lines steps come from a file or
// standard input; the protocol is described in docs/tools.md.
//
// Dispatches run in the background as they do in an application: a "dispatch" step prints its
// outcome when the dispatcher reports it, possibly after later steps; "drain" waits for each of
// its dispatches. The run ends once every dispatch it started has completed.
#include <stdlib.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <future>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "loomset/PLU.h"
#include "loomset/PLUCollectorEndpoints.h"
#include "loomset/PLULogger.h"
#include "loomset/PLUTracker.h"
#include "loomset/platform/Platform.h"
#include "tools/loomset/Arguments.h"
#include "tools/loomset/CollectorOptions.h"
#include "tools/loomset/JsonLines.h"
#include "tools/loomset/PendingDispatches.h"
#include "tools/loomset/Subcommand.h"
#include "tools/loomset/TrackHits.h"

namespace loomset::tools {
namespace {

// How long one dispatch may take before the run stops waiting for it: far beyond any request
// to a collector that answers at all.
constexpr auto kDispatchTimeout = std::chrono::seconds(120);
// A "drain" gives up after this many failed dispatches in a row (an unreachable collector would
// otherwise keep it failing for ever).
constexpr int kDrainFailureLimit = 5;
constexpr double kMaxWaitMillis = 600000;

std::optional<std::uint32_t> analyticsLogLevelNamed(const std::string& name) {
  static const std::map<std::string, std::uint32_t> levels = {{"none", kPLULogLevelNone},
                                                              {"error", kPLULogLevelError},
                                                              {"warning", kPLULogLevelWarning},
                                                              {"info", kPLULogLevelInfo},
                                                              {"verbose", kPLULogLevelVerbose}};
  const auto it = levels.find(name);
  if (it == levels.end()) return std::nullopt;
  return it->second;
}

// A fresh data root unless one is given; the fresh one is removed at the end, so that trying
// hits never touches the stores of a real installation.
class TrackDataRoot {
 public:
  explicit TrackDataRoot(const std::optional<std::string>& given) {
    std::error_code ec;
    if (given) {
      path_ = *given;
      std::filesystem::create_directories(path_, ec);
      if (ec) throw UsageError("--data-dir " + path_ + ": " + ec.message());
      return;
    }
    std::string pattern =
        (std::filesystem::temp_directory_path(ec) / "loomset-track-XXXXXX").string();
    if (ec || !mkdtemp(pattern.data())) throw UsageError("cannot create a temporary data root");
    path_ = pattern;
    owned_ = true;
  }
  ~TrackDataRoot() {
    if (!owned_) return;
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TrackDataRoot(const TrackDataRoot&) = delete;
  TrackDataRoot& operator=(const TrackDataRoot&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  bool owned_ = false;
};

// Result lines come from the step thread and from the analytics worker thread.
class SharedWriter {
 public:
  explicit SharedWriter(std::ostream& out) : writer_(out) {}
  void write(const Json& json) {
    std::lock_guard<std::mutex> lock(mu_);
    writer_.write(json);
  }

 private:
  std::mutex mu_;
  JsonLinesWriter writer_;
};

class TrackRunner {
 public:
  TrackRunner(std::shared_ptr<PLU> plu, std::shared_ptr<SharedWriter> out)
      : plu_(std::move(plu)), out_(std::move(out)) {}

  void run(const JsonLine& line) {
    if (!line.json) return invalid(line, line.error);
    const Json& step = *line.json;
    if (!step.is_object()) return invalid(line, "a step must be an object");
    if (step.contains("set")) return setFields(line, step);
    if (step.contains("send")) return send(line, step);
    if (step.contains("dispatch")) return dispatch(line, step);
    if (step.contains("drain")) return drain(line, step);
    if (step.contains("optOut")) return optOut(line, step);
    if (step.contains("clientId")) return clientId(line, step);
    if (step.contains("wait")) return wait(line, step);
    if (step.contains("tracker")) return tracker(line, step);
    invalid(line,
            "unknown step (expected \"tracker\", \"set\", \"send\", \"dispatch\", \"drain\", "
            "\"optOut\", \"clientId\" or \"wait\")");
  }

  bool waitForDispatches() { return pending_->waitForAll(kDispatchTimeout); }

 private:
  void invalid(const JsonLine& line, const std::string& reason) {
    Json out = Json::object();
    out["error"] = "InvalidStep";
    out["reason"] = reason;
    out["line"] = line.lineNumber;
    out_->write(out);
  }

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

  // `member` must be `true`, as in {"dispatch": true}.
  bool isTrue(const JsonLine& line, const Json& step, const char* member) {
    if (step.at(member) == true) return true;
    invalid(line, std::string("\"") + member + "\" must be true");
    return false;
  }

  // The step's "tracker", or the default tracker when the step names none.
  std::shared_ptr<PLUTracker> trackerOf(const JsonLine& line, const Json& step) {
    if (!step.contains("tracker")) {
      auto tracker = plu_->defaultTracker();
      if (!tracker) invalid(line, "no tracker named and no default tracker yet");
      return tracker;
    }
    const Json& name = step.at("tracker");
    if (!name.is_string()) {
      invalid(line, "\"tracker\" must be a string, not " + describeJsonKind(name));
      return nullptr;
    }
    const auto it = trackers_.find(name.get_ref<const std::string&>());
    if (it == trackers_.end()) {
      invalid(line, "no tracker \"" + name.get<std::string>() +
                        "\" (create it first with {\"tracker\": NAME, \"tid\": TID})");
      return nullptr;
    }
    return it->second;
  }

  void tracker(const JsonLine& line, const Json& step) {
    if (!onlyMembers(line, step, {"tracker", "tid"})) return;
    const Json& name = step.at("tracker");
    const Json tid = step.value("tid", Json());
    if (!name.is_string() || !tid.is_string()) {
      return invalid(line, "\"tracker\" and \"tid\" must be strings");
    }
    auto tracker = plu_->trackerWithName(name.get<std::string>(), tid.get<std::string>());
    if (!tracker) {
      return invalid(line, "no tracker could be created for \"" + name.get<std::string>() +
                               "\" (see the analytics log)");
    }
    trackers_[name.get<std::string>()] = std::move(tracker);
  }

  void setFields(const JsonLine& line, const Json& step) {
    if (!onlyMembers(line, step, {"set", "tracker"})) return;
    std::string error;
    const auto fields = hitFieldsFromJson(step.at("set"), false, 0, error);
    if (!fields) return invalid(line, "\"set\": " + error);
    const auto tracker = trackerOf(line, step);
    if (!tracker) return;
    for (const auto& [key, value] : *fields) tracker->set(key, value);
  }

  void send(const JsonLine& line, const Json& step) {
    if (!onlyMembers(line, step, {"send", "tracker"})) return;
    std::string error;
    const double now = Platform::current()->clock->nowMillis() / 1000.0;
    const auto fields = hitFieldsFromJson(step.at("send"), true, now, error);
    if (!fields) return invalid(line, "\"send\": " + error);
    const auto tracker = trackerOf(line, step);
    if (!tracker) return;
    tracker->send(*fields);
  }

  void dispatch(const JsonLine& line, const Json& step) {
    if (!onlyMembers(line, step, {"dispatch"}) || !isTrue(line, step, "dispatch")) return;
    // The handler may outlive the run when a dispatch never completes: it shares what it uses.
    pending_->started();
    plu_->dispatchWithCompletionHandler(
        [out = out_, pending = pending_](PLUDispatchOutcome outcome) {
          Json result = Json::object();
          result["dispatch"] = static_cast<int>(outcome);
          out->write(result);
          pending->finished();
        });
  }

  void drain(const JsonLine& line, const Json& step) {
    if (!onlyMembers(line, step, {"drain"}) || !isTrue(line, step, "drain")) return;
    // A dispatch still in flight would make the first one of the drain find nothing to send
    // (one request at a time) and end it before anything was drained.
    if (!pending_->waitForAll(kDispatchTimeout)) {
      return invalid(line, "an earlier dispatch did not complete within " +
                               std::to_string(kDispatchTimeout.count()) + " seconds");
    }
    int sent = 0, failures = 0, failuresInARow = 0;
    for (;;) {
      auto promise = std::make_shared<std::promise<PLUDispatchOutcome>>();
      auto outcome = promise->get_future();
      pending_->started();
      plu_->dispatchWithCompletionHandler([promise, pending = pending_](PLUDispatchOutcome result) {
        promise->set_value(result);
        pending->finished();
      });
      if (outcome.wait_for(kDispatchTimeout) != std::future_status::ready) {
        return invalid(line, "a dispatch did not complete within " +
                                 std::to_string(kDispatchTimeout.count()) + " seconds");
      }
      const PLUDispatchOutcome result = outcome.get();
      if (result == kPLUDispatchNothingToSend) break;
      if (result == kPLUDispatchSent) {
        ++sent;
        failuresInARow = 0;
      } else {
        ++failures;
        if (++failuresInARow == kDrainFailureLimit) break;
      }
    }
    Json out = Json::object();
    out["drained"] = sent;
    if (failures > 0) out["failed"] = failures;
    out_->write(out);
  }

  void optOut(const JsonLine& line, const Json& step) {
    if (!onlyMembers(line, step, {"optOut"})) return;
    const Json& value = step.at("optOut");
    if (!value.is_boolean()) {
      return invalid(line, "\"optOut\" must be true or false, not " + describeJsonKind(value));
    }
    plu_->setOptOut(value.get<bool>());
  }

  void clientId(const JsonLine& line, const Json& step) {
    if (!onlyMembers(line, step, {"clientId"}) || !isTrue(line, step, "clientId")) return;
    Json out = Json::object();
    out["clientId"] = plu_->clientId();
    out_->write(out);
  }

  void wait(const JsonLine& line, const Json& step) {
    if (!onlyMembers(line, step, {"wait"})) return;
    const Json& value = step.at("wait");
    if (!value.is_number() || value.get<double>() < 0 || value.get<double>() > kMaxWaitMillis) {
      return invalid(line, "\"wait\" takes milliseconds from 0 to 600000");
    }
    std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(value.get<double>()));
  }

  const std::shared_ptr<PLU> plu_;
  const std::shared_ptr<SharedWriter> out_;
  const std::shared_ptr<PendingDispatches> pending_ = std::make_shared<PendingDispatches>();
  std::map<std::string, std::shared_ptr<PLUTracker>> trackers_;
};

double dispatchIntervalFrom(const Arguments& parsed) {
  const auto text = parsed.value("--dispatch-interval");
  if (!text) return 0;
  try {
    std::size_t used = 0;
    const double seconds = std::stod(*text, &used);
    if (used == text->size() && seconds == seconds) return seconds;
  } catch (const std::exception&) {
  }
  throw UsageError("--dispatch-interval takes seconds, not \"" + *text + "\"");
}

}  // namespace

int trackMain(const std::vector<std::string>& args) {
  const Arguments parsed =
      Arguments::parse(args, OptionSpec{{"--steps", "--collector-secure", "--collector-plain",
                                         "--data-dir", "--dispatch-interval", "--log-level"},
                                        {"--dry-run"},
                                        {},
                                        {}});
  if (!parsed.positionals().empty()) {
    throw UsageError("unexpected argument \"" + parsed.positionals()[0] + "\"");
  }
  const PLUCollectorEndpoints endpoints =
      collectorEndpointsFrom(parsed).value_or(PLUCollectorEndpoints());
  const double interval = dispatchIntervalFrom(parsed);
  std::optional<std::uint32_t> level;
  if (const auto name = parsed.value("--log-level")) {
    level = analyticsLogLevelNamed(*name);
    if (!level) {
      throw UsageError("--log-level takes none, error, warning, info or verbose, not \"" + *name +
                       "\"");
    }
  }
  std::ifstream stepsFile;
  if (const auto steps = parsed.value("--steps")) {
    stepsFile.open(*steps);
    if (!stepsFile) throw UsageError("cannot open --steps " + *steps);
  }

  // The facade takes the platform bundle and the collection hosts in force at its first use.
  const TrackDataRoot dataRoot(parsed.value("--data-dir"));
  auto platform = Platform::systemDefault();
  platform->directories = DataDirectories(dataRoot.path());
  Platform::setCurrent(platform);
  PLUCollectorEndpoints::setShared(endpoints);

  const auto plu = PLU::sharedInstance();
  if (level) plu->logger()->setLogLevel(*level);
  plu->setDryRun(parsed.flag("--dry-run"));
  plu->setDispatchInterval(interval);

  TrackRunner runner(plu, std::make_shared<SharedWriter>(std::cout));
  JsonLinesReader reader(stepsFile.is_open() ? static_cast<std::istream&>(stepsFile) : std::cin);
  JsonLine line;
  while (reader.next(line)) runner.run(line);

  if (!runner.waitForDispatches()) {
    std::cerr << "loomset track: a dispatch did not complete within " << kDispatchTimeout.count()
              << " seconds\n";
    return kExitInvalid;
  }
  return kExitSuccess;
}

}  // namespace loomset::tools
