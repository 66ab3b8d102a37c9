#include "analytics/PLUUserDefaults.h"

#include <filesystem>
#include <map>

#include "Library/Util/platform/FileUtil.h"
#include "analytics/PLULog.h"

namespace loomset {

namespace fs = std::filesystem;

std::shared_ptr<PLUUserDefaults> PLUUserDefaults::forLibraryDirectory(
    const std::string& libraryDirectory) {
  static Mutex mu;
  static std::map<std::string, std::weak_ptr<PLUUserDefaults>> instances;
  const std::string path = (fs::path(libraryDirectory) / "Preferences" / kFileName).string();
  MutexLock lock(mu);
  if (auto existing = instances[path].lock()) return existing;
  auto created = std::make_shared<PLUUserDefaults>(path);
  instances[path] = created;
  return created;
}

PLUUserDefaults::PLUUserDefaults(std::string path) : path_(std::move(path)) {}

void PLUUserDefaults::loadLocked() {
  if (loaded_) return;
  loaded_ = true;
  const std::optional<std::string> text = FileUtil::readFile(path_);
  if (!text) return;
  nlohmann::json parsed = nlohmann::json::parse(*text, nullptr, /*allow_exceptions=*/false);
  if (parsed.is_object()) {
    values_ = std::move(parsed);
  } else {
    PLU_LOG_ERROR("Ignoring unreadable user defaults file: " + path_);
  }
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
  loadLocked();
  const std::string directory = fs::path(path_).parent_path().string();
  if (!FileUtil::createDirectories(directory) ||
      !FileUtil::writeFileAtomically(path_, values_.dump())) {
    PLU_LOG_ERROR("Failed to write user defaults: " + path_);
    return false;
  }
  return true;
}

}  // namespace loomset
