// File systems for tests that need files to fail.
//
// `FileSystemWrapper` forwards every call to another file system; a test derives from it to
// change one call and leave the rest alone (as leveldb's EnvWrapper does).
//
// `FaultInjectingFileSystem` is such a wrapper that fails the calls a test chooses: the next call
// of one operation (a refused open, a failed rename), or every call until the test says
// otherwise (a full disk). A failing append first writes part of its data, as a write that runs
// out of space does. Calls on paths not containing the rule's text pass through.
//
// Threads: safe from any thread.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "loomset/platform/FileSystem.h"

namespace loomset::testing {

class FileSystemWrapper : public FileSystem {
 public:
  explicit FileSystemWrapper(std::shared_ptr<FileSystem> target) : target_(std::move(target)) {}

  bool exists(const std::string& path) override { return target_->exists(path); }
  std::optional<std::string> readFile(const std::string& path) override {
    return target_->readFile(path);
  }
  std::unique_ptr<WritableFile> newTemporaryFile(const std::string& path,
                                                 std::string* temporaryPath) override {
    return target_->newTemporaryFile(path, temporaryPath);
  }
  bool rename(const std::string& from, const std::string& to) override {
    return target_->rename(from, to);
  }
  bool createDirectories(const std::string& path) override {
    return target_->createDirectories(path);
  }
  bool remove(const std::string& path) override { return target_->remove(path); }
  bool removeAll(const std::string& path) override { return target_->removeAll(path); }
  bool isImmutable(const std::string& path, std::string* error) override {
    return target_->isImmutable(path, error);
  }
  bool clearImmutable(const std::string& path, std::string* error) override {
    return target_->clearImmutable(path, error);
  }

  FileSystem& target() const { return *target_; }

 private:
  const std::shared_ptr<FileSystem> target_;
};

class FaultInjectingFileSystem final : public FileSystemWrapper {
 public:
  enum class Operation {
    kExists,
    kReadFile,
    kNewTemporaryFile,
    kAppend,
    kSync,
    kClose,
    kRename,
    kCreateDirectories,
    kRemove,
    kRemoveAll,
  };

  // Over the real file system when no target is given.
  explicit FaultInjectingFileSystem(std::shared_ptr<FileSystem> target = nullptr);

  // Fails the next `count` calls of the operation on paths containing `pathPart`.
  void failNext(Operation operation, int count = 1, const std::string& pathPart = "");
  // Fails every such call until `heal` (a full disk, a directory that refuses files).
  void failAlways(Operation operation, const std::string& pathPart = "");
  // The disk is full: every append fails (an empty file can still be made).
  void fillDisk();
  // Every rule is dropped: space is back, opens work again.
  void heal();
  // How many calls of the operation were failed, and how many were made in all.
  int failures(Operation operation) const;
  int calls(Operation operation) const;

  bool exists(const std::string& path) override;
  std::optional<std::string> readFile(const std::string& path) override;
  std::unique_ptr<WritableFile> newTemporaryFile(const std::string& path,
                                                 std::string* temporaryPath) override;
  bool rename(const std::string& from, const std::string& to) override;
  bool createDirectories(const std::string& path) override;
  bool remove(const std::string& path) override;
  bool removeAll(const std::string& path) override;

  // Whether this call fails (and counts it); for the files this file system hands out.
  bool shouldFail(Operation operation, const std::string& path);

 private:
  struct Rule {
    Operation operation;
    std::string pathPart;
    int remaining;  // -1: until healed
  };

  mutable std::mutex mu_;
  std::vector<Rule> rules_;            // guarded by mu_
  std::map<Operation, int> failures_;  // guarded by mu_
  std::map<Operation, int> calls_;     // guarded by mu_
};

}  // namespace loomset::testing
