#include "tags/MOXPixelSendDecision.h"

namespace loomset {

MOXPixelSendVerdict MOXDecideAfterSend(int status, bool cancelled, bool reachable,
                                       std::optional<double> firstFailure, double now) {
  if (status >= 200 && status < 300) return MOXPixelSendVerdict::kSent;
  if (cancelled || !reachable) return MOXPixelSendVerdict::kUnchanged;
  if (firstFailure && now - *firstFailure > kMOXPixelGiveUpSeconds) {
    return MOXPixelSendVerdict::kGivenUp;
  }
  return MOXPixelSendVerdict::kFailed;
}

}  // namespace loomset
