// A data root of its own for a benchmark program: a fresh folder under /tmp, removed with
// everything in it when the object goes.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace loomset::bench {

class BenchDataRoot {
 public:
  // `name` tells the programs' folders apart: "/tmp/loomset-<name>-XXXXXX".
  explicit BenchDataRoot(const std::string& name) {
    std::string pattern = "/tmp/loomset-" + name + "-XXXXXX";
    const char* dir = mkdtemp(pattern.data());
    path_ = dir ? dir : "/tmp/loomset-" + name;
  }
  ~BenchDataRoot() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  BenchDataRoot(const BenchDataRoot&) = delete;
  BenchDataRoot& operator=(const BenchDataRoot&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace loomset::bench
