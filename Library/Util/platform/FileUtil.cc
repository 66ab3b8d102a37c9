#include "Library/Util/platform/FileUtil.h"

#include <fcntl.h>
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
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

bool writeAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

std::string directoryOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Makes the rename itself durable; failure here is not worth failing the write for.
void syncDirectory(const std::string& directory) {
  FileDescriptor dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) ::fsync(dir.get());
}

}  // namespace

bool FileUtil::createDirectories(const std::string& path) {
  if (path.empty()) return false;
  std::error_code ec;
  fs::create_directories(path, ec);
  if (fs::is_directory(path, ec)) return true;
  logFailure("Cannot create directory", path, ec ? ec.value() : ENOTDIR);
  return false;
}

std::optional<std::string> FileUtil::readFile(const std::string& path) {
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

bool FileUtil::writeFileAtomically(const std::string& path, std::string_view data) {
  if (path.empty() || path.back() == '/') return false;
  std::string temporary = path + ".tmp-XXXXXX";
  FileDescriptor file(::mkostemp(temporary.data(), O_CLOEXEC));
  if (file.get() < 0) {
    logFailure("Cannot create a temporary file for", path, errno);
    return false;
  }
  auto fail = [&](const char* what) {
    logFailure(what, path, errno);
    ::unlink(temporary.c_str());
    return false;
  };
  if (!writeAll(file.get(), data)) return fail("Cannot write");
  if (::fsync(file.get()) != 0) return fail("Cannot flush");
  if (!file.close()) return fail("Cannot close");
  if (::rename(temporary.c_str(), path.c_str()) != 0) return fail("Cannot rename over");
  syncDirectory(directoryOf(path));
  return true;
}

bool FileUtil::remove(const std::string& path) {
  std::error_code ec;
  fs::remove(path, ec);
  if (!ec) return true;
  logFailure("Cannot remove", path, ec.value());
  return !fs::exists(fs::symlink_status(path, ec));
}

bool FileUtil::removeAll(const std::string& path) {
  std::error_code ec;
  fs::remove_all(path, ec);
  if (!ec) return true;
  logFailure("Cannot remove", path, ec.value());
  return !fs::exists(fs::symlink_status(path, ec));
}

bool FileUtil::exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(path, ec);
}

}  // namespace loomset
