#include "support/PLURecording.h"

#include "analytics/PLUInstanceControl.h"
#include "analytics/PLULog.h"
#include "analytics/PLUUsageTracker.h"

namespace loomset::testing {

PLURecordingDispatcher::PLURecordingDispatcher(std::shared_ptr<RandomSource> random)
    : properties_(std::make_shared<PLUMemoryClientProperties>(std::move(random))) {}

void PLURecordingDispatcher::queueModel(PLUTrackerModel model) {
  auto hit = plu_buildHitForStorage(model, optOut_.load());
  if (!hit) return;
  std::function<void(const PLUHitMap&)> onHit;
  {
    std::lock_guard<std::mutex> lock(mu_);
    hits_.push_back(*hit);
    onHit = onHit_;
  }
  if (onHit) onHit(*hit);
}

void PLURecordingDispatcher::dispatchWithCompletionHandler(Completion handler) {
  dispatches_.fetch_add(1);
  if (handler) {
    {
      std::lock_guard<std::mutex> lock(mu_);
      interval_ = -1;
    }
    handler(kPLUDispatchNothingToSend);
  }
}

double PLURecordingDispatcher::dispatchInterval() {
  std::lock_guard<std::mutex> lock(mu_);
  return interval_;
}

void PLURecordingDispatcher::setDispatchInterval(double seconds) {
  std::lock_guard<std::mutex> lock(mu_);
  interval_ = seconds;
}

std::vector<PLUHitMap> PLURecordingDispatcher::hits() const {
  std::lock_guard<std::mutex> lock(mu_);
  return hits_;
}

std::size_t PLURecordingDispatcher::hitCount() const {
  std::lock_guard<std::mutex> lock(mu_);
  return hits_.size();
}

PLUHitMap PLURecordingDispatcher::lastHit() const {
  std::lock_guard<std::mutex> lock(mu_);
  return hits_.empty() ? PLUHitMap() : hits_.back();
}

void PLURecordingDispatcher::clear() {
  std::lock_guard<std::mutex> lock(mu_);
  hits_.clear();
}

void PLURecordingDispatcher::setOnHit(std::function<void(const PLUHitMap&)> onHit) {
  std::lock_guard<std::mutex> lock(mu_);
  onHit_ = std::move(onHit);
}

void PLURecordingLogger::add(const char* level, const std::string& message) {
  std::lock_guard<std::mutex> lock(mu_);
  lines_.push_back(std::string(level) + ": " + message);
}

std::vector<std::string> PLURecordingLogger::lines() const {
  std::lock_guard<std::mutex> lock(mu_);
  return lines_;
}

int PLURecordingLogger::count(const std::string& text) const {
  std::lock_guard<std::mutex> lock(mu_);
  int n = 0;
  for (const auto& line : lines_) n += line.find(text) != std::string::npos;
  return n;
}

void PLURecordingLogger::clear() {
  std::lock_guard<std::mutex> lock(mu_);
  lines_.clear();
}

PLUTestFacade::PLUTestFacade(std::function<void(Platform&)> customize, bool withDispatcher)
    : platform_(std::move(customize)),
      dispatcher_(std::make_shared<PLURecordingDispatcher>(platform_.platform()->random)),
      logger_(std::make_shared<PLURecordingLogger>()) {
  auto dispatcher = withDispatcher ? dispatcher_ : nullptr;
  PLUInstanceControl::setDispatcherFactory(
      [dispatcher](const PLUContext&, std::string* error) -> std::shared_ptr<PLUDispatcher> {
        if (!dispatcher && error) *error = "no dispatcher in this test";
        return dispatcher;
      });
  PLUInstanceControl::resetSharedInstance();
  plu_log::setSharedLogger(logger_);
  facade_ = PLU::sharedInstance();
  PLUUsageTracker::getUsageSequence();
}

PLUTestFacade::~PLUTestFacade() {
  facade_.reset();
  PLUInstanceControl::resetSharedInstance();
  PLUInstanceControl::setDispatcherFactory(nullptr);
  plu_log::setSharedLogger(std::make_shared<PLUDefaultLogger>());
}

}  // namespace loomset::testing
