// What becomes of a stored pixel hit after one attempt to send it: a pure decision.
//
//   answered 2xx                                   -> delete: sent
//   cancelled, or the network not reachable        -> keep it as it is: nothing happened
//   first failure more than 4 hours before now     -> delete: given up
//   otherwise                                      -> record the failed attempt, retry later
//
// An attempt that was cancelled or could not reach the network says nothing about the hit, so it
// never gives a hit up, however old its first failure.
#pragma once

#include <optional>

namespace loomset {

enum class MOXPixelSendVerdict { kSent, kUnchanged, kGivenUp, kFailed };

inline constexpr double kMOXPixelGiveUpSeconds = 14400;

MOXPixelSendVerdict MOXDecideAfterSend(int status, bool cancelled, bool reachable,
                                       std::optional<double> firstFailure, double now);

}  // namespace loomset
