#include "support/FaultInjectingFileSystem.h"

#include <algorithm>

#include "Library/Util/platform/PosixFileSystem.h"

namespace loomset::testing {

namespace {

using Operation = FaultInjectingFileSystem::Operation;

// A file whose calls consult the rules of the file system that made it.
class FaultInjectingFile final : public WritableFile {
 public:
  FaultInjectingFile(std::unique_ptr<WritableFile> file, FaultInjectingFileSystem& owner,
                     std::string path)
      : file_(std::move(file)), owner_(owner), path_(std::move(path)) {}

  bool append(std::string_view data) override {
    if (owner_.shouldFail(Operation::kAppend, path_)) {
      // Space runs out part of the way.
      file_->append(data.substr(0, data.size() / 2));
      return false;
    }
    return file_->append(data);
  }
  bool sync() override { return !owner_.shouldFail(Operation::kSync, path_) && file_->sync(); }
  bool close() override {
    const bool closed = file_->close();
    return !owner_.shouldFail(Operation::kClose, path_) && closed;
  }

 private:
  const std::unique_ptr<WritableFile> file_;
  FaultInjectingFileSystem& owner_;
  const std::string path_;
};

}  // namespace

FaultInjectingFileSystem::FaultInjectingFileSystem(std::shared_ptr<FileSystem> target)
    : FileSystemWrapper(target ? std::move(target) : std::make_shared<PosixFileSystem>()) {}

void FaultInjectingFileSystem::failNext(Operation operation, int count,
                                        const std::string& pathPart) {
  std::lock_guard<std::mutex> lock(mu_);
  rules_.push_back({operation, pathPart, count});
}

void FaultInjectingFileSystem::failAlways(Operation operation, const std::string& pathPart) {
  std::lock_guard<std::mutex> lock(mu_);
  rules_.push_back({operation, pathPart, -1});
}

void FaultInjectingFileSystem::fillDisk() {
  failAlways(Operation::kAppend);
}

void FaultInjectingFileSystem::heal() {
  std::lock_guard<std::mutex> lock(mu_);
  rules_.clear();
}

int FaultInjectingFileSystem::failures(Operation operation) const {
  std::lock_guard<std::mutex> lock(mu_);
  const auto it = failures_.find(operation);
  return it == failures_.end() ? 0 : it->second;
}

int FaultInjectingFileSystem::calls(Operation operation) const {
  std::lock_guard<std::mutex> lock(mu_);
  const auto it = calls_.find(operation);
  return it == calls_.end() ? 0 : it->second;
}

bool FaultInjectingFileSystem::shouldFail(Operation operation, const std::string& path) {
  std::lock_guard<std::mutex> lock(mu_);
  ++calls_[operation];
  for (auto it = rules_.begin(); it != rules_.end(); ++it) {
    if (it->operation != operation || path.find(it->pathPart) == std::string::npos) continue;
    if (it->remaining > 0 && --it->remaining == 0) rules_.erase(it);
    ++failures_[operation];
    return true;
  }
  return false;
}

bool FaultInjectingFileSystem::exists(const std::string& path) {
  return !shouldFail(Operation::kExists, path) && FileSystemWrapper::exists(path);
}

std::optional<std::string> FaultInjectingFileSystem::readFile(const std::string& path) {
  if (shouldFail(Operation::kReadFile, path)) return std::nullopt;
  return FileSystemWrapper::readFile(path);
}

std::unique_ptr<WritableFile> FaultInjectingFileSystem::newTemporaryFile(
    const std::string& path, std::string* temporaryPath) {
  if (shouldFail(Operation::kNewTemporaryFile, path)) return nullptr;
  std::string made;
  auto file = FileSystemWrapper::newTemporaryFile(path, &made);
  if (!file) return nullptr;
  if (temporaryPath) *temporaryPath = made;
  return std::make_unique<FaultInjectingFile>(std::move(file), *this, made);
}

bool FaultInjectingFileSystem::rename(const std::string& from, const std::string& to) {
  return !shouldFail(Operation::kRename, to) && FileSystemWrapper::rename(from, to);
}

bool FaultInjectingFileSystem::createDirectories(const std::string& path) {
  return !shouldFail(Operation::kCreateDirectories, path) &&
         FileSystemWrapper::createDirectories(path);
}

bool FaultInjectingFileSystem::remove(const std::string& path) {
  return !shouldFail(Operation::kRemove, path) && FileSystemWrapper::remove(path);
}

bool FaultInjectingFileSystem::removeAll(const std::string& path) {
  return !shouldFail(Operation::kRemoveAll, path) && FileSystemWrapper::removeAll(path);
}

}  // namespace loomset::testing
