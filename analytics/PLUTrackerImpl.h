// The library's tracker: a model of persistent fields, a token-bucket rate limit and the
// hand-off of each hit to the dispatcher.
//
// Threads: any thread; `mu_` serialises set, get and send (the rate limiter runs inside it).
#pragma once

#include <memory>
#include <string>

#include "Library/Util/platform/Mutex.h"
#include "analytics/dispatch/PLUDispatcher.h"
#include "analytics/model/PLUTokenBucket.h"
#include "analytics/model/PLUTrackerModel.h"
#include "loomset/PLUTracker.h"

namespace loomset {

class PLUTrackerImpl final : public PLUTracker {
 public:
  // Null, with an error logged, when `dispatcher` is null.
  static std::shared_ptr<PLUTrackerImpl> trackerWithDispatcher(
      std::shared_ptr<PLUDispatcher> dispatcher, const std::string& name,
      std::shared_ptr<const PLUModelEnvironment> environment);

  const std::string& name() const override { return name_; }
  bool allowIDFACollection() const override;
  void setAllowIDFACollection(bool allow) override;
  void set(const std::string& key, PLUHitValue value) override;
  PLUHitValue get(const std::string& key) override;
  void send(const PLUHitMap& parameters) override;

  void plu_set(const std::string& key, PLUHitValue value) override;
  PLUHitValue plu_get(const std::string& key) override;
  void plu_send(const PLUHitMap& parameters) override;
  void plu_set(const PLUHitMap& fields);

  // Declared counters; nothing updates them.
  unsigned trackCount() const { return 0; }
  unsigned hitCount() const { return 0; }

  struct Passkey {
   private:
    Passkey() = default;
    friend class PLUTrackerImpl;
  };
  PLUTrackerImpl(Passkey, std::shared_ptr<PLUDispatcher> dispatcher, std::string name,
                 std::shared_ptr<const PLUModelEnvironment> environment);

 private:
  // Constant after construction.
  const std::string name_;
  const std::shared_ptr<PLUDispatcher> dispatcher_;
  const std::shared_ptr<const PLUModelEnvironment> environment_;

  mutable Mutex mu_;
  PLUTrackerModel model_ GUARDED_BY(mu_);
  PLUTokenBucket bucket_ GUARDED_BY(mu_);
};

}  // namespace loomset
