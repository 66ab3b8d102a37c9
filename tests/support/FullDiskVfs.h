// A full disk for SQLite files: while it lives, a VFS wrapping SQLite's "unix" VFS is the default
// (so every database opened meanwhile uses it), and while `setFull(true)` holds, every write to a
// database, journal or write-ahead log file fails with SQLITE_FULL, as it does when the disk has no
// space left. Reads, locks and the shared-memory index work as before. `setReadOnly(true)` makes
// the directory refuse writes, new files and deletions instead.
//
// Threads: one instance at a time per process; `setFull` is safe from any thread.
#pragma once

#include <atomic>

struct sqlite3_vfs;

namespace loomset::testing {

class FullDiskVfs {
 public:
  FullDiskVfs();
  // Unregisters the VFS; connections opened through it must be closed first.
  ~FullDiskVfs();
  FullDiskVfs(const FullDiskVfs&) = delete;
  FullDiskVfs& operator=(const FullDiskVfs&) = delete;

  void setFull(bool full) { full_.store(full); }
  // A read-only data directory: while it holds, writes fail with SQLITE_READONLY, files that do
  // not exist yet (journals, logs, new databases) cannot be created, and nothing can be deleted.
  void setReadOnly(bool readOnly) { readOnly_.store(readOnly); }
  bool isFull() const { return full_.load(); }
  // Writes refused so far.
  int refusedWrites() const { return refused_.load(); }

 private:
  std::atomic<bool> full_{false};
  std::atomic<bool> readOnly_{false};
  std::atomic<int> refused_{0};
  sqlite3_vfs* vfs_;
};

}  // namespace loomset::testing
