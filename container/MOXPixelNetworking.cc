#include "container/MOXPixelNetworking.h"

#include <mutex>
#include <utility>

namespace loomset {

void MOXPixelNetworking::sendURL(const std::string& url, Completion completion) {
  networking_->sendURL(
      url, [completion = std::move(completion)](const std::shared_ptr<MOXNetOperation>& operation) {
        MOXPixelSendResult result;
        result.cancelled = operation->isCancelled();
        // A missing response counts as a status outside 2xx.
        if (operation->response()) result.status = operation->response()->status;
        if (completion) completion(result);
      });
}

void installPixelNetworking() {
  static std::once_flag installed;
  std::call_once(installed, [] {
    MOXPixelNetwork::setDefaultFactory(
        [] { return std::make_shared<MOXPixelNetworking>(MOXNetworking::create()); });
  });
}

}  // namespace loomset
