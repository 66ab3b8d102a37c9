// The container callback of `loomset run --container-id`: prints each call as
// {"callback": "begin"|"success"|"failure", "container": ID, "type": "saved"|"network"}, with
// "failure": CODE on failures.
//
// Threads: any thread (the sink is thread-safe).
#pragma once

#include <memory>

#include "loomset/MOXContainerCallback.h"
#include "tools/loomset/LineSink.h"
#include "tools/loomset/StrictJson.h"

namespace loomset::tools {

class PrintingContainerCallback final : public MOXContainerCallback {
 public:
  explicit PrintingContainerCallback(LineSink& out) : out_(out) {}

  void containerRefreshBegin(const std::shared_ptr<MOXContainer>& container,
                             MOXContainerCallbackRefreshType refreshType) override;
  void containerRefreshSuccess(const std::shared_ptr<MOXContainer>& container,
                               MOXContainerCallbackRefreshType refreshType) override;
  void containerRefreshFailure(const std::shared_ptr<MOXContainer>& container,
                               MOXContainerCallbackRefreshFailure failure,
                               MOXContainerCallbackRefreshType refreshType) override;

 private:
  static Json line(const char* kind, const std::shared_ptr<MOXContainer>& container,
                   MOXContainerCallbackRefreshType refreshType);
  LineSink& out_;
};

}  // namespace loomset::tools
