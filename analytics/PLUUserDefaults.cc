#include "analytics/PLUUserDefaults.h"

#include <filesystem>
#include <map>
#include <utility>

#include "analytics/PLULog.h"
#include "loomset/platform/Platform.h"

namespace loomset {

namespace fs = std::filesystem;

std::shared_ptr<PLUUserDefaults> PLUUserDefaults::forLibraryDirectory(
    const std::string& libraryDirectory, std::shared_ptr<FileSystem> fileSystem) {
  static Mutex mu;
  static std::map<std::string, std::weak_ptr<PLUUserDefaults>> instances;
  const std::string path = (fs::path(libraryDirectory) / "Preferences" / kFileName).string();
  MutexLock lock(mu);
  if (auto existing = instances[path].lock()) return existing;
  auto created = std::make_shared<PLUUserDefaults>(path, std::move(fileSystem));
  instances[path] = created;
  return created;
}

PLUUserDefaults::PLUUserDefaults(std::string path, std::shared_ptr<FileSystem> fileSystem)
    : path_(std::move(path)),
      fileSystem_(fileSystem ? std::move(fileSystem) : Platform::current()->fileSystem) {}

bool PLUUserDefaults::loadLocked() {
  if (loaded_) return true;
  const std::optional<std::string> text = fileSystem_->readFile(path_);
  if (!text) {
    // A file that is there but cannot be read now (a refused open) is read again next time;
    // until then nothing may be written over the values it holds.
    if (fileSystem_->exists(path_)) return false;
    loaded_ = true;
    return true;
  }
  loaded_ = true;
  nlohmann::json parsed = nlohmann::json::parse(*text, nullptr, /*allow_exceptions=*/false);
  if (!parsed.is_object()) {
    PLU_LOG_ERROR("Ignoring unreadable user defaults file: " + path_);
    return true;
  }
  // Values set while the file could not be read fill in only what it lacks: the library writes
  // each of its keys once, when it is absent, so the value on file is the first one.
  for (const auto& [key, value] : values_.items()) {
    if (!parsed.contains(key)) parsed[key] = value;
  }
  values_ = std::move(parsed);
  return true;
}

bool PLUUserDefaults::hasKey(const std::string& key) {
  MutexLock lock(mu_);
  loadLocked();
  return values_.contains(key);
}

std::optional<double> PLUUserDefaults::doubleForKey(const std::string& key) {
  MutexLock lock(mu_);
  loadLocked();
  const auto it = values_.find(key);
  if (it == values_.end() || !it->is_number()) return std::nullopt;
  return it->get<double>();
}

std::optional<bool> PLUUserDefaults::boolForKey(const std::string& key) {
  MutexLock lock(mu_);
  loadLocked();
  const auto it = values_.find(key);
  if (it == values_.end()) return std::nullopt;
  if (it->is_boolean()) return it->get<bool>();
  if (it->is_number()) return it->get<double>() != 0;
  return std::nullopt;
}

void PLUUserDefaults::setDouble(double value, const std::string& key) {
  MutexLock lock(mu_);
  loadLocked();
  values_[key] = value;
}

void PLUUserDefaults::setBool(bool value, const std::string& key) {
  MutexLock lock(mu_);
  loadLocked();
  values_[key] = value;
}

void PLUUserDefaults::removeKey(const std::string& key) {
  MutexLock lock(mu_);
  loadLocked();
  values_.erase(key);
}

bool PLUUserDefaults::synchronize() {
  MutexLock lock(mu_);
  if (!loadLocked()) {
    PLU_LOG_ERROR("Failed to write user defaults: cannot read " + path_);
    return false;
  }
  const std::string directory = fs::path(path_).parent_path().string();
  if (!fileSystem_->createDirectories(directory) ||
      !fileSystem_->writeFileAtomically(path_, values_.dump())) {
    PLU_LOG_ERROR("Failed to write user defaults: " + path_);
    return false;
  }
  return true;
}

}  // namespace loomset
