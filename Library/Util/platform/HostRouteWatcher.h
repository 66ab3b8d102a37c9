// The default reachability watcher on Linux: a host counts as reachable when its name resolves
// and the kernel has a route to one of its addresses (a connected UDP socket tells, without
// sending anything). It checks when started, whenever the kernel announces a change of links,
// addresses or routes, and every `recheckSeconds` in any case; it reports the flags of the first
// check and every change after that.
//
// Reported flags: reachable, plus "is WWAN" when the route leaves through a cellular interface
// ("wwan*", "rmnet*", "ccmni*") and "is local address" for loopback; nothing when the name does
// not resolve or no route exists.
//
// Threads: checks run on a thread of the watcher's own (name resolution may block); flags are
// delivered on the given loop. `stop` returns at once even while a lookup is still blocked.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "loomset/platform/EventLoop.h"
#include "loomset/platform/ReachabilityWatcher.h"

namespace loomset {

class HostRouteWatcher final : public MOXReachabilityWatcher {
 public:
  HostRouteWatcher(std::string host, std::shared_ptr<EventLoop> deliveryLoop,
                   double recheckSeconds = 30.0);
  ~HostRouteWatcher() override;

  bool start(FlagsCallback callback) override;
  void stop() override;

  // One check, on the calling thread.
  static std::uint32_t probe(const std::string& host);

 private:
  struct State;
  const std::string host_;
  const std::shared_ptr<EventLoop> deliveryLoop_;
  const double recheckSeconds_;
  std::shared_ptr<State> state_;
};

}  // namespace loomset
