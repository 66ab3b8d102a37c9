#include "analytics/PLUTrackerImpl.h"

#include "analytics/PLULog.h"
#include "analytics/PLUUsageTracker.h"
#include "loomset/PLUFields.h"

namespace loomset {
namespace {

bool isHitType(const PLUHitValue& type, const char* name) {
  return type && *type == name;
}

}  // namespace

std::shared_ptr<PLUTrackerImpl> PLUTrackerImpl::trackerWithDispatcher(
    std::shared_ptr<PLUDispatcher> dispatcher, const std::string& name,
    std::shared_ptr<const PLUModelEnvironment> environment) {
  if (!dispatcher) {
    PLU_LOG_ERROR("initialization failed: dispatcher is required.");
    return nullptr;
  }
  return std::make_shared<PLUTrackerImpl>(Passkey(), std::move(dispatcher), name,
                                          std::move(environment));
}

PLUTrackerImpl::PLUTrackerImpl(Passkey, std::shared_ptr<PLUDispatcher> dispatcher, std::string name,
                               std::shared_ptr<const PLUModelEnvironment> environment)
    : name_(std::move(name)),
      dispatcher_(std::move(dispatcher)),
      environment_(std::move(environment)),
      model_(dispatcher_->dataStore(), environment_) {}

bool PLUTrackerImpl::allowIDFACollection() const {
  MutexLock lock(mu_);
  return model_.allowIDFACollection();
}

void PLUTrackerImpl::setAllowIDFACollection(bool allow) {
  MutexLock lock(mu_);
  model_.setAllowIDFACollection(allow);
}

void PLUTrackerImpl::set(const std::string& key, PLUHitValue value) {
  PLUUsageTracker::trackAction("set:value:");
  plu_set(key, std::move(value));
}

PLUHitValue PLUTrackerImpl::get(const std::string& key) {
  PLUUsageTracker::trackAction("get:");
  return plu_get(key);
}

void PLUTrackerImpl::send(const PLUHitMap& parameters) {
  PLUUsageTracker::trackAction("send:");
  plu_send(parameters);
}

void PLUTrackerImpl::plu_set(const std::string& key, PLUHitValue value) {
  MutexLock lock(mu_);
  model_.setValue(std::move(value), key);
}

void PLUTrackerImpl::plu_set(const PLUHitMap& fields) {
  for (const auto& [key, value] : fields) plu_set(key, value);
}

PLUHitValue PLUTrackerImpl::plu_get(const std::string& key) {
  // Computed fields read the hit store, which waits for the worker thread: never under the lock,
  // or a reader on the worker thread (or one that the worker waits for) would deadlock with it.
  std::optional<PLUTrackerModel> model;
  {
    MutexLock lock(mu_);
    model.emplace(model_);
  }
  auto value = model->valueForKey(key);
  return value ? std::move(*value) : std::nullopt;
}

void PLUTrackerImpl::plu_send(const PLUHitMap& parameters) {
  const auto typeEntry = parameters.find(kPLUHitType);
  const PLUHitValue hitType =
      typeEntry != parameters.end() ? typeEntry->second : PLUHitValue(std::nullopt);
  if (!hitType || hitType->empty()) PLU_LOG_WARNING("Bad or missing hit type.");

  MutexLock lock(mu_);
  if (!isHitType(hitType, kPLUTransaction) && !isHitType(hitType, kPLUItem)) {
    const double now = environment_->platform().clock->secondsSinceReferenceDate();
    if (!plu_takeTrackingCredit(bucket_, now)) {
      PLU_LOG_INFO("Excessive tracking detected and throttled.");
      return;
    }
  }
  // A hit without a type of its own counts with the tracker's type. A null marker is a type,
  // though not a screen view.
  std::optional<PLUHitValue> countedType;
  if (typeEntry != parameters.end()) {
    countedType = typeEntry->second;
  } else {
    countedType = model_.valueForKey(kPLUHitType);
  }
  if (!countedType ||
      (*countedType && (**countedType == kPLUAppView || **countedType == kPLUScreenView))) {
    model_.willSendScreenView();
  }
  model_.setValue(PLUUsageTracker::getUsageSequence(), kPLUUsageTracking);
  dispatcher_->queueModel(model_.copyWithOverride(parameters));
}

}  // namespace loomset
