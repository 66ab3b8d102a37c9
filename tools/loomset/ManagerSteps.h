// The steps of `loomset run --container-id`: the data-layer steps through the manager's data
// layer, and the lifecycle steps (open, opener, state, refresh, close, preview) on the manager's
// real containers, with `advance` on simulated time and `wait` on real time. The protocol is
// described in docs/tools.md.
//
// On simulated time every step is followed by `SimulatedTime::settle`, so every line a step
// causes is written before the next step is read; the lines of openers whose futures completed
// meanwhile follow. On real time lines are written as things happen, from the library's threads.
//
// Threads: used from the run's thread.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "loomset/MOXContainerOpener.h"
#include "loomset/MOXManager.h"
#include "tools/loomset/JsonLines.h"
#include "tools/loomset/LineSink.h"
#include "tools/loomset/PendingDispatches.h"
#include "tools/loomset/SimulatedTime.h"
#include "tools/loomset/StepReporter.h"

namespace loomset::tools {

class ManagerSteps {
 public:
  struct Options {
    // The container that steps address when they give `true` or no id.
    std::string containerId;
    // Registered on every container the run opens.
    std::vector<std::string> tagHandlers;
    std::vector<std::pair<std::string, Json>> macroHandlers;
  };

  // `simulated` is null on real time.
  ManagerSteps(std::shared_ptr<MOXManager> manager, Options options, LineSink& out,
               SimulatedTime* simulated);

  // Before the first step: lets the library settle on simulated time.
  void start();
  void run(const JsonLine& line);
  // On real time, after the last step: waits for the dispatches the steps started; false when
  // some did not complete within `timeout`.
  bool waitForDispatches(std::chrono::seconds timeout) { return pending_->waitForAll(timeout); }
  // After the last step: closes the containers the run opened, so that nothing is fetched while
  // the process ends.
  void closeAll();

 private:
  struct PendingOpener {
    std::string containerId;
    std::shared_ptr<MOXContainerFuture> future;
  };

  void dispatch(const JsonLine& line, const Json& step);
  // The container id a member names: a non-empty string, or true for the run's container.
  std::optional<std::string> containerIdOf(const JsonLine& line, const Json& step,
                                           const char* member);
  // The open container, or null after writing a NotOpen line.
  std::shared_ptr<MOXContainer> openContainer(const JsonLine& line, const std::string& id);
  void registerHandlers(const std::shared_ptr<MOXContainer>& container);
  void writeOpenerLine(const std::string& containerId, MOXContainerFuture& future);
  void writeCompletedOpeners();

  // What a get or explain step names: the key (under the step's `verb`), the type and the open
  // container; nothing when the step is refused (reported) or the container cannot be opened.
  struct Lookup {
    std::string key;
    std::string type;
    std::shared_ptr<MOXContainer> container;
  };
  std::optional<Lookup> lookupOf(const JsonLine& line, const Json& step, const char* verb);
  void get(const JsonLine& line, const Json& step);
  void explain(const JsonLine& line, const Json& step);
  void open(const JsonLine& line, const Json& step);
  void opener(const JsonLine& line, const Json& step);
  void state(const JsonLine& line, const Json& step);
  void refreshOrClose(const JsonLine& line, const Json& step, const char* kind);
  void preview(const JsonLine& line, const Json& step);
  void advance(const JsonLine& line, const Json& step);
  void dispatchStep(const JsonLine& line, const Json& step);
  void wait(const JsonLine& line, const Json& step);

  const std::shared_ptr<MOXManager> manager_;
  const Options options_;
  LineSink& out_;
  StepReporter report_;
  SimulatedTime* const simulated_;
  std::vector<PendingOpener> pendingOpeners_;
  std::vector<std::string> opened_;
  // Shared with the completion handlers, which may run after the steps have gone.
  const std::shared_ptr<PendingDispatches> pending_ = std::make_shared<PendingDispatches>();
};

}  // namespace loomset::tools
