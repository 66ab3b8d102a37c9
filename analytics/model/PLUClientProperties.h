// The client properties a tracker model reads and writes: the installation's client id, the
// hashed advertising id and its change counters. The hit store keeps them persistently; the
// in-memory implementation serves when no hit store was given.
//
// Threads: implementations are safe to call from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "Library/Util/platform/Mutex.h"

namespace loomset {

class RandomSource;

class PLUClientProperties {
 public:
  virtual ~PLUClientProperties() = default;
  virtual std::string clientId() = 0;
  virtual void setClientId(const std::string& clientId) = 0;
  // 32 lower-case hex digits, or nothing before the first advertising id was seen.
  virtual std::optional<std::string> hashedIdfa() = 0;
  virtual void setHashedIdfa(const std::optional<std::string>& hash) = 0;
  virtual std::int64_t idfaChangeCount() = 0;
  virtual void setIdfaChangeCount(std::int64_t count) = 0;
  // Seconds since 1970 of the last reset of the change count; 0 when never.
  virtual double lastChangeTimeStamp() = 0;
  virtual void setLastChangeTimeStamp(double seconds) = 0;
};

// A new client id: a random UUID in canonical form, lower-cased.
std::string plu_generateClientId(RandomSource& random);

class PLUMemoryClientProperties final : public PLUClientProperties {
 public:
  // Generates the client id with `random` on first read.
  explicit PLUMemoryClientProperties(std::shared_ptr<RandomSource> random)
      : random_(std::move(random)) {}

  std::string clientId() override;
  void setClientId(const std::string& clientId) override;
  std::optional<std::string> hashedIdfa() override;
  void setHashedIdfa(const std::optional<std::string>& hash) override;
  std::int64_t idfaChangeCount() override;
  void setIdfaChangeCount(std::int64_t count) override;
  double lastChangeTimeStamp() override;
  void setLastChangeTimeStamp(double seconds) override;

 private:
  const std::shared_ptr<RandomSource> random_;
  Mutex mu_;
  std::string clientId_ GUARDED_BY(mu_);
  std::optional<std::string> hashedIdfa_ GUARDED_BY(mu_);
  std::int64_t idfaChangeCount_ GUARDED_BY(mu_) = 0;
  double lastChangeTimeStamp_ GUARDED_BY(mu_) = 0;
};

}  // namespace loomset
