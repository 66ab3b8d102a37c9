#include "container/MOXContainerFutureImpl.h"

#include <utility>

#include "loomset/MOXLog.h"

namespace loomset {

std::shared_ptr<MOXContainer> MOXContainerFutureImpl::get() {
  MutexLock lock(mu_);
  if (done_) return container_;
  if (loop_ && loop_->isCurrent()) {
    MOXLog::error(
        "MOXContainerFuture get called on the library's main loop, which cannot wait for its own "
        "timeout; returning the container as it is.");
    return opening_.lock();
  }
  while (!done_) completed_.wait(mu_);
  return container_;
}

bool MOXContainerFutureImpl::isDone() {
  MutexLock lock(mu_);
  return done_;
}

void MOXContainerFutureImpl::setContainer(std::shared_ptr<MOXContainer> container) {
  {
    MutexLock lock(mu_);
    if (done_) return;
    done_ = true;
    container_ = std::move(container);
  }
  completed_.notifyAll();
}

void MOXContainerFutureImpl::setOpeningContainer(std::weak_ptr<MOXContainer> container) {
  MutexLock lock(mu_);
  opening_ = std::move(container);
}

}  // namespace loomset
