// The future an opening hands the application, and the notifier that completes it.
//
// `get` waits on a condition variable for the notifier, never by running a loop: the opening's
// timeout fires on the library's main loop, which runs on its own. On that loop's own thread
// waiting could never end, so `get` answers there at once with the container as it is (the one
// the opening opened, possibly still default), after logging an error.
//
// Threads: every operation is safe from any thread.
#pragma once

#include <memory>

#include "Library/Util/platform/Mutex.h"
#include "loomset/MOXContainerOpener.h"
#include "loomset/platform/EventLoop.h"

namespace loomset {

class MOXContainerFutureImpl final : public MOXContainerFuture {
 public:
  // `loop` is the loop that completes openings (the platform's main loop).
  explicit MOXContainerFutureImpl(std::shared_ptr<EventLoop> loop) : loop_(std::move(loop)) {}

  std::shared_ptr<MOXContainer> get() override;
  bool isDone() override;

  // Completes the future; later calls change nothing.
  void setContainer(std::shared_ptr<MOXContainer> container);
  // The container being opened, answered by `get` on the main loop's thread before completion.
  void setOpeningContainer(std::weak_ptr<MOXContainer> container);

 private:
  const std::shared_ptr<EventLoop> loop_;
  Mutex mu_;
  CondVar completed_;
  bool done_ GUARDED_BY(mu_) = false;
  std::shared_ptr<MOXContainer> container_ GUARDED_BY(mu_);
  std::weak_ptr<MOXContainer> opening_ GUARDED_BY(mu_);
};

class MOXFutureNotifier final : public MOXContainerOpenerNotifier {
 public:
  explicit MOXFutureNotifier(std::shared_ptr<MOXContainerFutureImpl> future)
      : future_(std::move(future)) {}
  void containerAvailable(const std::shared_ptr<MOXContainer>& container) override {
    future_->setContainer(container);
  }

 private:
  const std::shared_ptr<MOXContainerFutureImpl> future_;
};

}  // namespace loomset
