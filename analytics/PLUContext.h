// The analytics services of one facade, handed down to everything below it, so that no part of
// the analytics half reaches up for the facade, its thread or a process-wide store.
//
// The facade fills in its platform bundle, the worker loop ("PLUThread" of the bundle), the user
// defaults, the collection endpoints and its links back (the install-campaign sender and its
// default tracker). The dispatcher wiring adds the hit store and the properties store it opens;
// the completed context is what the dispatcher works with.
//
// Threads: a context is a plain value, immutable once handed on; copy it freely. The links back
// may be called from any thread and answer nothing once their facade is gone.
#pragma once

#include <functional>
#include <memory>

#include "loomset/PLUCollectorEndpoints.h"
#include "loomset/PLUDelivery.h"
#include "loomset/PLUHitMap.h"

namespace loomset {

class EventLoop;
class PLUAnalyticsPropertiesStore;
class PLUDataStore;
class PLUTracker;
class PLUUserDefaults;
struct Platform;

struct PLUContext {
  std::shared_ptr<const Platform> platform;
  // The analytics worker thread: the stores and the dispatcher do all their work there.
  std::shared_ptr<EventLoop> worker;
  // "PLUFirstInitTimeStamp" and "PLUCampaignInfoIAd"; null without a data directory.
  std::shared_ptr<PLUUserDefaults> userDefaults;
  PLUCollectorEndpoints endpoints;
  std::shared_ptr<PLUDataStore> hitStore;
  std::shared_ptr<PLUAnalyticsPropertiesStore> propertiesStore;
  // Hands the install-campaign hit to the facade's tracker of its tracking id. Empty: no
  // campaign hit goes out.
  std::function<void(const PLUHitMap& hit)> sendCampaignHit;
  // The facade's default tracker, or null.
  std::function<std::shared_ptr<PLUTracker>()> defaultTracker;
  // Hands a dispatch's report to the facade's delivery observers; called on the worker, it only
  // queues the report for the main loop. Empty: nobody hears the reports.
  std::function<void(const PLUDispatchReport& report)> reportDispatch;

  // The same context with what is missing taken from its platform bundle (the bundle in force
  // when it has none): the bundle's analytics worker, the user defaults and a properties store
  // over the bundle's Library directory. The hit store is left as it is.
  PLUContext completed() const;

  // The context of the shared facade, for what an application creates on its own (tracked
  // screens); null before the facade exists. Set by the facade only.
  static std::shared_ptr<const PLUContext> shared();
  static void setShared(std::shared_ptr<const PLUContext> context);
};

}  // namespace loomset
