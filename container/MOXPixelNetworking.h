// The pixel dispatcher's network: the container half's request queue (MOXNetworking: one GET at
// a time with the container half's request settings, completions on "MOXThread") and its
// reachability flag. `installPixelNetworking` makes it the network of the shared pixel
// dispatcher; the manager and the table of built-in implementations call it before a pixel can
// be stored or dispatched.
//
// Threads: any thread.
#pragma once

#include <memory>
#include <string>

#include "container/MOXNetworking.h"
#include "tags/MOXPixelNetwork.h"

namespace loomset {

class MOXPixelNetworking final : public MOXPixelNetwork {
 public:
  explicit MOXPixelNetworking(std::shared_ptr<MOXNetworking> networking)
      : networking_(std::move(networking)) {}

  bool isReachable() const override { return networking_->isReachable(); }
  void sendURL(const std::string& url, Completion completion) override;

 private:
  const std::shared_ptr<MOXNetworking> networking_;
};

// Once per process: the shared pixel dispatcher sends through a MOXPixelNetworking over a new
// MOXNetworking of the platform bundle in force when the dispatcher is made.
void installPixelNetworking();

}  // namespace loomset
