#include "tools/loomset/PrintingContainerCallback.h"

#include "loomset/MOXContainer.h"

namespace loomset::tools {

Json PrintingContainerCallback::line(const char* kind,
                                     const std::shared_ptr<MOXContainer>& container,
                                     MOXContainerCallbackRefreshType refreshType) {
  Json out = Json::object();
  out["callback"] = kind;
  out["container"] = container ? container->containerId() : std::string();
  out["type"] = refreshType == kMOXContainerCallbackRefreshTypeSaved ? "saved" : "network";
  return out;
}

void PrintingContainerCallback::containerRefreshBegin(
    const std::shared_ptr<MOXContainer>& container, MOXContainerCallbackRefreshType refreshType) {
  out_.write(line("begin", container, refreshType));
}

void PrintingContainerCallback::containerRefreshSuccess(
    const std::shared_ptr<MOXContainer>& container, MOXContainerCallbackRefreshType refreshType) {
  out_.write(line("success", container, refreshType));
}

void PrintingContainerCallback::containerRefreshFailure(
    const std::shared_ptr<MOXContainer>& container, MOXContainerCallbackRefreshFailure failure,
    MOXContainerCallbackRefreshType refreshType) {
  Json out = line("failure", container, refreshType);
  out["failure"] = static_cast<int>(failure);
  out_.write(out);
}

}  // namespace loomset::tools
