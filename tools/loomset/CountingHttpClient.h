// An HttpClient that forwards every request to another one (the library's libcurl client) and
// knows which requests are still in flight, so that a run can tell when the library's fetches
// are over.
//
// Completions reach the library in one of two ways:
// - kDirect: posted to the loop the caller named, as the wrapped client does; a request is in
//   flight until its completion has run. `waitUntilNoneInFlight` waits for that.
// - kHeld: kept as they arrive from the wrapped client's thread; `releaseWhenAllAnswered` waits
//   until every request sent has been answered and then posts the completions to their loops in
//   the order the requests were sent. A run on simulated time calls it when the library is
//   otherwise idle, so network answers enter the library at a point and in an order that do not
//   depend on how fast the network was.
//
// Threads: `send` and the queries are safe from any thread; the waits block the calling thread
// on a condition variable (each request carries its own time-out, so the wait ends).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "loomset/platform/HttpClient.h"

namespace loomset::tools {

class CountingHttpClient final : public HttpClient {
 public:
  enum class Delivery { kDirect, kHeld };

  CountingHttpClient(std::shared_ptr<HttpClient> wrapped, Delivery delivery);
  ~CountingHttpClient() override;

  std::shared_ptr<HttpCall> send(HttpRequest request, std::shared_ptr<EventLoop> loop,
                                 Completion completion) override;

  // Requests sent whose completion has not run (kDirect) or not been posted (kHeld).
  std::size_t inFlight() const;
  // kDirect: false when requests are still in flight at the deadline.
  bool waitUntilNoneInFlight(std::chrono::steady_clock::time_point deadline) const;
  // kHeld: waits until every request sent so far has been answered, then posts the answered
  // completions in the order their requests were sent; answers how many it posted.
  std::size_t releaseWhenAllAnswered();

 private:
  struct State;
  class ArrivalLoop;
  const std::shared_ptr<HttpClient> wrapped_;
  const Delivery delivery_;
  const std::shared_ptr<State> state_;
  const std::shared_ptr<ArrivalLoop> arrivals_;
};

}  // namespace loomset::tools
