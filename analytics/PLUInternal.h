// The analytics facade's private operations, for the library's own wiring, tests and tools: the
// worker thread, the dispatcher, the user defaults, the context the facade hands down, and the
// default tracker without recording API usage. Applications use the public facade only.
//
// Threads: as the facade's operations, safe from any thread.
#pragma once

#include <memory>

namespace loomset {

class EventLoop;
class PLU;
class PLUDispatcher;
class PLUTracker;
class PLUUserDefaults;
struct PLUContext;

struct PLUInternal {
  // The analytics worker thread ("PLUThread"): the `analyticsWorker` of the platform bundle in
  // force.
  static std::shared_ptr<EventLoop> thread();
  // The facade's dispatcher, created again when an earlier attempt failed; nil when it cannot be.
  static std::shared_ptr<PLUDispatcher> dispatcher(PLU& facade);
  // Where the facade keeps its user defaults ("PLUFirstInitTimeStamp", ...); nil without a data
  // directory.
  static std::shared_ptr<PLUUserDefaults> userDefaults(const PLU& facade);
  // What the facade hands down: its platform bundle, worker, user defaults, endpoints and links.
  static const PLUContext& context(const PLU& facade);
  // The default tracker, without recording API usage.
  static std::shared_ptr<PLUTracker> plu_defaultTracker(PLU& facade);
};

}  // namespace loomset
