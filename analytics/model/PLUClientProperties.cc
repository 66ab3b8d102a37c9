#include "analytics/model/PLUClientProperties.h"

#include <algorithm>
#include <cctype>

#include "loomset/platform/Platform.h"

namespace loomset {

std::string plu_generateClientId(RandomSource& random) {
  std::string id = random.uuid();
  std::transform(id.begin(), id.end(), id.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return id;
}

std::string PLUMemoryClientProperties::clientId() {
  MutexLock lock(mu_);
  if (clientId_.empty() && random_) clientId_ = plu_generateClientId(*random_);
  return clientId_;
}

void PLUMemoryClientProperties::setClientId(const std::string& clientId) {
  MutexLock lock(mu_);
  clientId_ = clientId;
}

std::optional<std::string> PLUMemoryClientProperties::hashedIdfa() {
  MutexLock lock(mu_);
  return hashedIdfa_;
}

void PLUMemoryClientProperties::setHashedIdfa(const std::optional<std::string>& hash) {
  MutexLock lock(mu_);
  hashedIdfa_ = hash;
}

std::int64_t PLUMemoryClientProperties::idfaChangeCount() {
  MutexLock lock(mu_);
  return idfaChangeCount_;
}

void PLUMemoryClientProperties::setIdfaChangeCount(std::int64_t count) {
  MutexLock lock(mu_);
  idfaChangeCount_ = count;
}

double PLUMemoryClientProperties::lastChangeTimeStamp() {
  MutexLock lock(mu_);
  return lastChangeTimeStamp_;
}

void PLUMemoryClientProperties::setLastChangeTimeStamp(double seconds) {
  MutexLock lock(mu_);
  lastChangeTimeStamp_ = seconds;
}

}  // namespace loomset
