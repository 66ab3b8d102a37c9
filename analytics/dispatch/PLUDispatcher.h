// The hand-off between trackers and the hit pipeline. A tracker passes each hit as a model copy
// to `queueModel`; the dispatcher builds its map (`PLUTrackerModel::buildDictionary`), applies
// opt-out and sampling, numbers and stores it, and sends stored hits. The facade owns the one
// dispatcher of the process and forwards its switches to it.
//
// Threads: every operation may be called from any thread. `queueModel` must not block on the
// caller's thread and must not call back into the tracker that handed the model over (trackers
// call it under their own lock). Completion handlers run on the platform bundle's main loop.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "analytics/PLUContext.h"
#include "analytics/model/PLUClientProperties.h"
#include "analytics/model/PLUTrackerModel.h"
#include "loomset/PLUHitMap.h"

namespace loomset {

class PLUFlushRun;

class PLUDispatcher {
 public:
  using Completion = std::function<void(PLUDispatchOutcome)>;

  virtual ~PLUDispatcher() = default;

  virtual void queueModel(PLUTrackerModel model) = 0;
  virtual void dispatch() = 0;
  // A handler switches periodic dispatch off (interval -1).
  virtual void dispatchWithCompletionHandler(Completion handler) = 0;
  virtual double dispatchInterval() = 0;
  virtual void setDispatchInterval(double seconds) = 0;
  virtual bool optOut() = 0;
  // Turning opt-out on deletes the stored hits.
  virtual void setOptOut(bool optOut) = 0;
  // Forwarded to the connection class: requests complete as sent without network traffic.
  virtual void setDryRun(bool dryRun) = 0;
  // The hit store's client properties, shared by every tracker model.
  virtual std::shared_ptr<PLUClientProperties> dataStore() = 0;
  virtual std::string clientId() { return dataStore()->clientId(); }
  // Saves the stored hits, then sends them batch after batch until none is left, a request gets
  // no answer, or the run's deadline passes, adding each dispatch to the run and finishing it.
  // Without stored hits of its own, a dispatcher finishes the run at once.
  virtual void flush(std::shared_ptr<PLUFlushRun> run);
};

// The drop rules every dispatcher applies before storing a hit: nothing while opted out, and
// nothing that its sample rate leaves out. Otherwise the built map.
std::optional<PLUHitMap> plu_buildHitForStorage(PLUTrackerModel& model, bool optOut);

// Creates the dispatcher of a facade from the facade's context; null with `error` set when it
// cannot.
using PLUDispatcherFactory =
    std::function<std::shared_ptr<PLUDispatcher>(const PLUContext& context, std::string* error)>;
// The library's own dispatcher wiring: a batching dispatcher over a new hit store and the
// context's properties store, on the context's worker.
std::shared_ptr<PLUDispatcher> plu_createDefaultDispatcher(const PLUContext& context,
                                                           std::string* error);

}  // namespace loomset
