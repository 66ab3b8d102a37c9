// A fresh, empty directory under the system's temporary directory, removed with everything in it
// when the object goes away. Each test that touches files gets its own.
#pragma once

#include <string>

namespace loomset::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // `path()` + "/" + name.
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace loomset::testing
