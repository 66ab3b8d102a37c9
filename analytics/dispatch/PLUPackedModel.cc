#include "analytics/dispatch/PLUPackedModel.h"

#include <cstdint>
#include <string_view>
#include <utility>

#include "loomset/PLUFields.h"

namespace loomset {
namespace {

void appendLength(std::string& out, std::size_t length) {
  while (length >= 0x80) {
    out.push_back(static_cast<char>((length & 0x7f) | 0x80));
    length >>= 7;
  }
  out.push_back(static_cast<char>(length));
}

std::size_t readLength(std::string_view in, std::size_t& at) {
  std::size_t length = 0;
  for (int shift = 0;; shift += 7) {
    const auto byte = static_cast<unsigned char>(in[at++]);
    length |= static_cast<std::size_t>(byte & 0x7f) << shift;
    if (!(byte & 0x80)) return length;
  }
}

void appendField(std::string& out, std::string_view key, const PLUHitValue& value) {
  appendLength(out, key.size());
  out.append(key);
  out.push_back(value ? '\1' : '\0');
  if (value) {
    appendLength(out, value->size());
    out.append(*value);
  }
}

// Calls `f(key, value)` for each packed field, in packing order.
template <typename F>
void forEachField(std::string_view in, F&& f) {
  std::size_t at = 0;
  while (at < in.size()) {
    const std::size_t keyLength = readLength(in, at);
    const std::string_view key = in.substr(at, keyLength);
    at += keyLength;
    PLUHitValue value;
    if (in[at++] != '\0') {
      const std::size_t valueLength = readLength(in, at);
      value.emplace(in.substr(at, valueLength));
      at += valueLength;
    }
    f(key, std::move(value));
  }
}

// The fields a hit that will not be kept still needs: its number goes by tracking and client id,
// its sampling by sample rate and client id, and the install-campaign hit copies the rest.
bool neededWhenNotKept(std::string_view key) {
  for (const char* needed :
       {kPLUTrackingId, kPLUClientId, kPLUSampleRate, kPLUCampaignSource, kPLUAdTargetingEnabled,
        kPLUAppId, kPLUAppInstallerId, kPLUAppName, kPLUAppVersion, kPLUIdfa, kPLUUserId}) {
    if (key == needed) return true;
  }
  return false;
}

}  // namespace

PLUPackedModel::PLUPackedModel(const PLUTrackerModel& model)
    : allowIDFACollection_(model.allowIDFACollection()) {
  // The models a tracker hands over in a row share their sources; so do their packed forms.
  thread_local std::weak_ptr<const Sources> lastSources;
  auto last = lastSources.lock();
  if (last && last->dataStore == model.dataStore() &&
      last->environment.get() == &model.environment()) {
    sources_ = std::move(last);
  } else {
    auto sources = std::make_shared<Sources>();
    sources->dataStore = model.dataStore();
    sources->environment = model.environmentPointer();
    sources_ = sources;
    lastSources = sources_;
  }
  const PLUHitMap& defaults = model.environment().defaultParameters();
  for (const auto& [key, value] : model.parameters()) {
    const auto standard = defaults.find(key);
    if (standard != defaults.end() && standard->second == value) continue;
    appendField(fields_, key, value);
    if (key == kPLUSampleRate) mayBeSampledOut_ = true;
  }
  fields_.shrink_to_fit();
}

PLUTrackerModel PLUPackedModel::unpack() const {
  PLUTrackerModel model(sources_->dataStore, sources_->environment);
  model.setAllowIDFACollection(allowIDFACollection_);
  forEachField(fields_, [&model](std::string_view key, PLUHitValue value) {
    model.setValue(std::move(value), std::string(key));
  });
  return model;
}

void PLUPackedModel::thin() {
  std::string kept;
  forEachField(fields_, [&kept](std::string_view key, const PLUHitValue& value) {
    if (neededWhenNotKept(key)) appendField(kept, key, value);
  });
  kept.shrink_to_fit();
  fields_ = std::move(kept);
  thinned_ = true;
}

}  // namespace loomset
