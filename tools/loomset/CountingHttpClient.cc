#include "tools/loomset/CountingHttpClient.h"

#include <string>
#include <utility>
#include <vector>

#include "Library/Util/platform/GuardedBlock.h"
#include "loomset/MOXLog.h"

namespace loomset::tools {

// Shared with the completions, which may outlive the client.
struct CountingHttpClient::State {
  mutable std::mutex mu;
  mutable std::condition_variable changed;
  std::uint64_t nextSequence = 0;  // guarded by mu
  std::size_t inFlight = 0;        // guarded by mu
  // kHeld: answered requests by send order, with the loop their completion goes to.
  std::map<std::uint64_t, std::pair<std::shared_ptr<EventLoop>, std::function<void()>>>
      answered;  // guarded by mu
};

namespace {

class InertTimer final : public TimerHandle {
 public:
  void cancel() override {}
};

}  // namespace

// Where the wrapped client delivers held completions: it runs them at once on the thread that
// posts them (the wrapped client's own), and each one only files its answer in the state.
class CountingHttpClient::ArrivalLoop final : public EventLoop {
 public:
  void post(Block block) override {
    if (block) runBlockGuarded(name_, block);
  }
  // The wrapped client only posts; timers have no place here.
  std::shared_ptr<TimerHandle> postAfter(double, Block) override {
    MOXLog::error("No timers on " + name_);
    return std::make_shared<InertTimer>();
  }
  std::shared_ptr<TimerHandle> postRepeating(double, Block) override {
    MOXLog::error("No timers on " + name_);
    return std::make_shared<InertTimer>();
  }
  bool isCurrent() const override { return false; }
  const std::string& name() const override { return name_; }

 private:
  const std::string name_ = "http-arrivals";
};

CountingHttpClient::CountingHttpClient(std::shared_ptr<HttpClient> wrapped, Delivery delivery)
    : wrapped_(std::move(wrapped)),
      delivery_(delivery),
      state_(std::make_shared<State>()),
      arrivals_(std::make_shared<ArrivalLoop>()) {}

CountingHttpClient::~CountingHttpClient() = default;

std::shared_ptr<HttpCall> CountingHttpClient::send(HttpRequest request,
                                                   std::shared_ptr<EventLoop> loop,
                                                   Completion completion) {
  std::uint64_t sequence;
  {
    std::lock_guard<std::mutex> lock(state_->mu);
    sequence = state_->nextSequence++;
    ++state_->inFlight;
  }
  if (delivery_ == Delivery::kDirect) {
    return wrapped_->send(
        std::move(request), std::move(loop),
        [state = state_, completion = std::move(completion)](HttpResponse response) {
          // Counted down even when the completion throws.
          struct Done {
            State& state;
            ~Done() {
              std::lock_guard<std::mutex> lock(state.mu);
              --state.inFlight;
              state.changed.notify_all();
            }
          } done{*state};
          if (completion) completion(std::move(response));
        });
  }
  return wrapped_->send(std::move(request), arrivals_,
                        [state = state_, sequence, loop = std::move(loop),
                         completion = std::move(completion)](HttpResponse response) mutable {
                          std::lock_guard<std::mutex> lock(state->mu);
                          state->answered[sequence] = {std::move(loop),
                                                       [completion = std::move(completion),
                                                        response = std::move(response)]() mutable {
                                                         if (completion)
                                                           completion(std::move(response));
                                                       }};
                          state->changed.notify_all();
                        });
}

std::size_t CountingHttpClient::inFlight() const {
  std::lock_guard<std::mutex> lock(state_->mu);
  return state_->inFlight;
}

bool CountingHttpClient::waitUntilNoneInFlight(
    std::chrono::steady_clock::time_point deadline) const {
  std::unique_lock<std::mutex> lock(state_->mu);
  return state_->changed.wait_until(lock, deadline, [this] { return state_->inFlight == 0; });
}

std::size_t CountingHttpClient::releaseWhenAllAnswered() {
  decltype(state_->answered) answered;
  {
    std::unique_lock<std::mutex> lock(state_->mu);
    state_->changed.wait(lock, [this] { return state_->answered.size() == state_->inFlight; });
    answered.swap(state_->answered);
    state_->inFlight = 0;
  }
  for (auto& [sequence, delivery] : answered) {
    auto& [loop, block] = delivery;
    if (loop) loop->post(std::move(block));
  }
  return answered.size();
}

}  // namespace loomset::tools
