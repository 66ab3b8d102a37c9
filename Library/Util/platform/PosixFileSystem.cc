#include "Library/Util/platform/PosixFileSystem.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "loomset/MOXLog.h"

namespace loomset {

namespace fs = std::filesystem;

namespace {

void logFailure(const std::string& what, const std::string& path, int error) {
  if (!MOXLog::enabled(kMOXLogLevelDebug)) return;
  MOXLog::debug(what + " " + path + ": " + std::strerror(error));
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  // Closes now so the caller can see a failure that only shows at close.
  bool close() {
    const int fd = fd_;
    fd_ = -1;
    return fd < 0 || ::close(fd) == 0;
  }

 private:
  int fd_;
};

std::string directoryOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Makes a rename durable; failure here is not worth failing the rename for.
void syncDirectory(const std::string& directory) {
  FileDescriptor dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) ::fsync(dir.get());
}

class PosixWritableFile final : public WritableFile {
 public:
  PosixWritableFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}

  bool append(std::string_view data) override {
    while (!data.empty()) {
      const ssize_t n = ::write(fd_.get(), data.data(), data.size());
      if (n < 0) {
        if (errno == EINTR) continue;
        logFailure("Cannot write", path_, errno);
        return false;
      }
      data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
  }

  bool sync() override {
    if (::fsync(fd_.get()) == 0) return true;
    logFailure("Cannot flush", path_, errno);
    return false;
  }

  bool close() override {
    if (fd_.close()) return true;
    logFailure("Cannot close", path_, errno);
    return false;
  }

 private:
  FileDescriptor fd_;
  const std::string path_;
};

// File systems without inode flags answer one of these; their files are never immutable.
bool flagsUnsupported(int error) {
  return error == ENOTTY || error == EOPNOTSUPP || error == EINVAL || error == ENOSYS;
}

// Opens the file for the flag ioctls, which need no write access.
int openForFlags(const std::string& path, std::string* error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0 && error) *error = std::strerror(errno);
  return fd;
}

}  // namespace

bool PosixFileSystem::exists(const std::string& path) {
  // As std::filesystem::exists with an error code (links followed, any failure answers false),
  // without parsing the path: stores ask this before every statement.
  struct stat status;
  return ::stat(path.c_str(), &status) == 0;
}

std::optional<std::string> PosixFileSystem::readFile(const std::string& path) {
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) {
    if (errno != ENOENT) logFailure("Cannot open", path, errno);
    return std::nullopt;
  }
  struct stat info {};
  if (::fstat(file.get(), &info) != 0) {
    logFailure("Cannot inspect", path, errno);
    return std::nullopt;
  }
  if (!S_ISREG(info.st_mode)) {
    logFailure("Not a regular file:", path, EISDIR);
    return std::nullopt;
  }
  std::string content;
  content.reserve(static_cast<size_t>(info.st_size));
  char buffer[64 * 1024];
  for (;;) {
    const ssize_t n = ::read(file.get(), buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      logFailure("Cannot read", path, errno);
      return std::nullopt;
    }
    content.append(buffer, static_cast<size_t>(n));
  }
  return content;
}

std::unique_ptr<WritableFile> PosixFileSystem::newTemporaryFile(const std::string& path,
                                                                std::string* temporaryPath) {
  std::string temporary = path + ".tmp-XXXXXX";
  // mkostemp makes the file with mode 0600: private to the user.
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) {
    logFailure("Cannot create a temporary file for", path, errno);
    return nullptr;
  }
  if (temporaryPath) *temporaryPath = temporary;
  return std::make_unique<PosixWritableFile>(fd, std::move(temporary));
}

bool PosixFileSystem::rename(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) {
    logFailure("Cannot rename " + from + " over", to, errno);
    return false;
  }
  syncDirectory(directoryOf(to));
  return true;
}

bool PosixFileSystem::createDirectories(const std::string& path) {
  if (path.empty()) return false;
  std::error_code ec;
  fs::create_directories(path, ec);
  if (fs::is_directory(path, ec)) return true;
  logFailure("Cannot create directory", path, ec ? ec.value() : ENOTDIR);
  return false;
}

bool PosixFileSystem::remove(const std::string& path) {
  std::error_code ec;
  fs::remove(path, ec);
  if (!ec) return true;
  logFailure("Cannot remove", path, ec.value());
  return !fs::exists(fs::symlink_status(path, ec));
}

bool PosixFileSystem::removeAll(const std::string& path) {
  std::error_code ec;
  fs::remove_all(path, ec);
  if (!ec) return true;
  logFailure("Cannot remove", path, ec.value());
  return !fs::exists(fs::symlink_status(path, ec));
}

bool PosixFileSystem::isImmutable(const std::string& path, std::string* error) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) {
    if (error) *error = std::strerror(errno);
    return false;
  }
  if (!S_ISREG(info.st_mode)) return false;
  FileDescriptor fd(openForFlags(path, error));
  if (fd.get() < 0) return false;
  int flags = 0;
  if (::ioctl(fd.get(), FS_IOC_GETFLAGS, &flags) == 0) return (flags & FS_IMMUTABLE_FL) != 0;
  if (!flagsUnsupported(errno) && error) *error = std::strerror(errno);
  return false;
}

bool PosixFileSystem::clearImmutable(const std::string& path, std::string* error) {
  FileDescriptor fd(openForFlags(path, error));
  if (fd.get() < 0) return false;
  int flags = 0;
  if (::ioctl(fd.get(), FS_IOC_GETFLAGS, &flags) != 0) {
    if (flagsUnsupported(errno)) return true;
    if (error) *error = std::strerror(errno);
    return false;
  }
  if (!(flags & FS_IMMUTABLE_FL)) return true;
  flags &= ~FS_IMMUTABLE_FL;
  // Needs the right to change inode flags (CAP_LINUX_IMMUTABLE); without it this fails.
  if (::ioctl(fd.get(), FS_IOC_SETFLAGS, &flags) == 0) return true;
  if (error) *error = std::strerror(errno);
  return false;
}

}  // namespace loomset
