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
  std::lock_guard<std::mutex> lock(mu_);
  if (clientId_.empty() && random_) clientId_ = plu_generateClientId(*random_);
  return clientId_;
}

void PLUMemoryClientProperties::setClientId(const std::string& clientId) {
  std::lock_guard<std::mutex> lock(mu_);
  clientId_ = clientId;
}

std::optional<std::string> PLUMemoryClientProperties::hashedIdfa() {
  std::lock_guard<std::mutex> lock(mu_);
  return hashedIdfa_;
}

void PLUMemoryClientProperties::setHashedIdfa(const std::optional<std::string>& hash) {
  std::lock_guard<std::mutex> lock(mu_);
  hashedIdfa_ = hash;
}

std::int64_t PLUMemoryClientProperties::idfaChangeCount() {
  std::lock_guard<std::mutex> lock(mu_);
  return idfaChangeCount_;
}

void PLUMemoryClientProperties::setIdfaChangeCount(std::int64_t count) {
  std::lock_guard<std::mutex> lock(mu_);
  idfaChangeCount_ = count;
}

double PLUMemoryClientProperties::lastChangeTimeStamp() {
  std::lock_guard<std::mutex> lock(mu_);
  return lastChangeTimeStamp_;
}

void PLUMemoryClientProperties::setLastChangeTimeStamp(double seconds) {
  std::lock_guard<std::mutex> lock(mu_);
  lastChangeTimeStamp_ = seconds;
}

}  // namespace loomset
