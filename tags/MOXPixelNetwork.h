// How the pixel dispatcher reaches the network: one GET per hit, answered on the worker thread
// "MOXThread", and whether the network is reachable. The container half provides it (over its
// request queue, one request at a time) and installs the factory before the first pixel tag can
// fire; tests hand a dispatcher one of their own.
//
// Threads: `sendURL` and `isReachable` may be called from any thread.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace loomset {

struct MOXPixelSendResult {
  // The final status; 0 when no response arrived.
  int status = 0;
  bool cancelled = false;
};

class MOXPixelNetwork {
 public:
  using Completion = std::function<void(const MOXPixelSendResult& result)>;
  using Factory = std::function<std::shared_ptr<MOXPixelNetwork>()>;

  virtual ~MOXPixelNetwork() = default;
  virtual bool isReachable() const = 0;
  // Sends a GET of the URL; the completion runs once, on the worker thread.
  virtual void sendURL(const std::string& url, Completion completion) = 0;

  // What the shared dispatcher sends through; without one it sends nothing.
  static void setDefaultFactory(Factory factory);
  static std::shared_ptr<MOXPixelNetwork> createDefault();
};

}  // namespace loomset
