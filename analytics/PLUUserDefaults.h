// The analytics half's user defaults: a few values kept across launches in one small JSON file
// under the data root's Library directory ("PLUFirstInitTimeStamp", "PLUCampaignInfoIAd").
// Dates are stored as seconds since 1970. A missing or unreadable file reads as empty.
//
// Threads: any thread; one instance per file (`forLibraryDirectory`) guards its values.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "Library/Util/platform/Mutex.h"

namespace loomset {

class PLUUserDefaults {
 public:
  static constexpr const char* kFileName = "kestrel-defaults.json";

  // The one instance for the file in this Library directory.
  static std::shared_ptr<PLUUserDefaults> forLibraryDirectory(const std::string& libraryDirectory);

  explicit PLUUserDefaults(std::string path);

  bool hasKey(const std::string& key);
  std::optional<double> doubleForKey(const std::string& key);
  std::optional<bool> boolForKey(const std::string& key);
  void setDouble(double value, const std::string& key);
  void setBool(bool value, const std::string& key);
  void removeKey(const std::string& key);
  // Writes the values to the file (by rename, so a crash never leaves half a file). False, with
  // an error logged, when the file cannot be written.
  bool synchronize();

  const std::string& path() const { return path_; }

 private:
  void loadLocked() REQUIRES(mu_);

  const std::string path_;
  Mutex mu_;
  bool loaded_ GUARDED_BY(mu_) = false;
  nlohmann::json values_ GUARDED_BY(mu_) = nlohmann::json::object();
};

}  // namespace loomset
