// The analytics half's user defaults: a few values kept across launches in one small JSON file
// under the data root's Library directory ("PLUFirstInitTimeStamp", "PLUCampaignInfoIAd").
// Dates are stored as seconds since 1970. A missing or damaged file reads as empty. A file that is
// there but cannot be read at the moment is tried again at each call and nothing is written over
// it before it has been read; values set meanwhile fill in what it lacks (the library writes each
// key once, when it is absent, so the value on file is the first). The file is read and written
// through the file system given at creation.
//
// Threads: any thread; one instance per file (`forLibraryDirectory`) guards its values.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "Library/Util/platform/Mutex.h"

namespace loomset {

class FileSystem;

class PLUUserDefaults {
 public:
  static constexpr const char* kFileName = "kestrel-defaults.json";

  // The one instance for the file in this Library directory (made with `fileSystem` when new).
  // Without a file system, the one of the platform bundle in force.
  static std::shared_ptr<PLUUserDefaults> forLibraryDirectory(
      const std::string& libraryDirectory, std::shared_ptr<FileSystem> fileSystem = nullptr);

  explicit PLUUserDefaults(std::string path, std::shared_ptr<FileSystem> fileSystem = nullptr);

  bool hasKey(const std::string& key);
  std::optional<double> doubleForKey(const std::string& key);
  std::optional<bool> boolForKey(const std::string& key);
  void setDouble(double value, const std::string& key);
  void setBool(bool value, const std::string& key);
  void removeKey(const std::string& key);
  // Writes the values to the file (by rename, so a crash never leaves half a file). False, with
  // an error logged, when the file cannot be written; the values stay, and a later call writes
  // them.
  bool synchronize();

  const std::string& path() const { return path_; }

 private:
  // False while the file is there but cannot be read.
  bool loadLocked() REQUIRES(mu_);

  const std::string path_;
  const std::shared_ptr<FileSystem> fileSystem_;
  Mutex mu_;
  bool loaded_ GUARDED_BY(mu_) = false;
  nlohmann::json values_ GUARDED_BY(mu_) = nlohmann::json::object();
};

}  // namespace loomset
