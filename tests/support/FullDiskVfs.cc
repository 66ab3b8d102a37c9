#include "support/FullDiskVfs.h"

#include <sqlite3.h>

#include <memory>
#include <stdexcept>

namespace loomset::testing {

namespace {

constexpr const char* kName = "loomset-full-disk";

struct Shared {
  sqlite3_vfs* unix = nullptr;
  std::atomic<bool>* full = nullptr;
  std::atomic<bool>* readOnly = nullptr;
  std::atomic<int>* refused = nullptr;
};

Shared& shared(sqlite3_vfs* vfs) {
  return *static_cast<Shared*>(vfs->pAppData);
}

// The wrapper's file: the unix VFS's own file follows it in the same allocation.
struct WrappedFile {
  sqlite3_file base;
  Shared* shared;
  sqlite3_file* real() { return reinterpret_cast<sqlite3_file*>(this + 1); }
};

sqlite3_file* real(sqlite3_file* file) {
  return reinterpret_cast<WrappedFile*>(file)->real();
}

const sqlite3_io_methods* methods(sqlite3_file* file) {
  return real(file)->pMethods;
}

int wrappedWrite(sqlite3_file* file, const void* data, int amount, sqlite3_int64 offset) {
  Shared& s = *reinterpret_cast<WrappedFile*>(file)->shared;
  if (s.full->load()) {
    s.refused->fetch_add(1);
    return SQLITE_FULL;
  }
  if (s.readOnly->load()) {
    s.refused->fetch_add(1);
    return SQLITE_READONLY;
  }
  return methods(file)->xWrite(real(file), data, amount, offset);
}

const sqlite3_io_methods kMethods = {
    3,
    [](sqlite3_file* f) { return methods(f)->xClose(real(f)); },
    [](sqlite3_file* f, void* data, int amount, sqlite3_int64 offset) {
      return methods(f)->xRead(real(f), data, amount, offset);
    },
    wrappedWrite,
    [](sqlite3_file* f, sqlite3_int64 size) { return methods(f)->xTruncate(real(f), size); },
    [](sqlite3_file* f, int flags) { return methods(f)->xSync(real(f), flags); },
    [](sqlite3_file* f, sqlite3_int64* size) { return methods(f)->xFileSize(real(f), size); },
    [](sqlite3_file* f, int lock) { return methods(f)->xLock(real(f), lock); },
    [](sqlite3_file* f, int lock) { return methods(f)->xUnlock(real(f), lock); },
    [](sqlite3_file* f, int* out) { return methods(f)->xCheckReservedLock(real(f), out); },
    [](sqlite3_file* f, int op, void* arg) { return methods(f)->xFileControl(real(f), op, arg); },
    [](sqlite3_file* f) { return methods(f)->xSectorSize(real(f)); },
    [](sqlite3_file* f) { return methods(f)->xDeviceCharacteristics(real(f)); },
    [](sqlite3_file* f, int region, int size, int extend, void volatile** out) {
      return methods(f)->xShmMap(real(f), region, size, extend, out);
    },
    [](sqlite3_file* f, int offset, int n, int flags) {
      return methods(f)->xShmLock(real(f), offset, n, flags);
    },
    [](sqlite3_file* f) { methods(f)->xShmBarrier(real(f)); },
    [](sqlite3_file* f, int deleteFlag) { return methods(f)->xShmUnmap(real(f), deleteFlag); },
    [](sqlite3_file* f, sqlite3_int64 offset, int amount, void** out) {
      return methods(f)->xFetch(real(f), offset, amount, out);
    },
    [](sqlite3_file* f, sqlite3_int64 offset, void* page) {
      return methods(f)->xUnfetch(real(f), offset, page);
    },
};

int wrappedOpen(sqlite3_vfs* vfs, const char* name, sqlite3_file* file, int flags, int* outFlags) {
  Shared& s = shared(vfs);
  auto* wrapped = reinterpret_cast<WrappedFile*>(file);
  wrapped->shared = &s;
  wrapped->real()->pMethods = nullptr;
  wrapped->base.pMethods = nullptr;
  if (s.readOnly->load() && (flags & SQLITE_OPEN_CREATE) && name) {
    int exists = 0;
    s.unix->xAccess(s.unix, name, SQLITE_ACCESS_EXISTS, &exists);
    if (!exists) {
      s.refused->fetch_add(1);
      return SQLITE_CANTOPEN;
    }
  }
  const int rc = s.unix->xOpen(s.unix, name, wrapped->real(), flags, outFlags);
  // SQLite closes a file whose methods are set, even after a failed open.
  wrapped->base.pMethods = wrapped->real()->pMethods ? &kMethods : nullptr;
  return rc;
}

}  // namespace

FullDiskVfs::FullDiskVfs() : vfs_(nullptr) {
  sqlite3_initialize();
  sqlite3_vfs* unix = sqlite3_vfs_find("unix");
  if (!unix || unix->iVersion < 3) throw std::runtime_error("no unix VFS to wrap");
  auto* data = new Shared{unix, &full_, &readOnly_, &refused_};
  vfs_ = new sqlite3_vfs(*unix);
  vfs_->zName = kName;
  vfs_->pAppData = data;
  vfs_->szOsFile = static_cast<int>(sizeof(WrappedFile)) + unix->szOsFile;
  vfs_->pNext = nullptr;
  vfs_->xOpen = wrappedOpen;
  vfs_->xDelete = [](sqlite3_vfs* v, const char* n, int sync) {
    if (shared(v).readOnly->load()) {
      shared(v).refused->fetch_add(1);
      return SQLITE_IOERR_DELETE;
    }
    return shared(v).unix->xDelete(shared(v).unix, n, sync);
  };
  vfs_->xAccess = [](sqlite3_vfs* v, const char* n, int flags, int* out) {
    return shared(v).unix->xAccess(shared(v).unix, n, flags, out);
  };
  vfs_->xFullPathname = [](sqlite3_vfs* v, const char* n, int size, char* out) {
    return shared(v).unix->xFullPathname(shared(v).unix, n, size, out);
  };
  sqlite3_vfs_register(vfs_, /*makeDflt=*/1);
}

FullDiskVfs::~FullDiskVfs() {
  sqlite3_vfs_unregister(vfs_);
  // The unix VFS is the default again.
  sqlite3_vfs_register(sqlite3_vfs_find("unix"), 1);
  delete static_cast<Shared*>(vfs_->pAppData);
  delete vfs_;
}

}  // namespace loomset::testing
