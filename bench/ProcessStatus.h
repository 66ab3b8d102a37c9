// Figures of this process read from /proc: resident memory (now and peak), open file descriptors
// and threads. For the resource benchmark and the soak program; Linux only.
#pragma once

#include <dirent.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace loomset::bench {

// A "Name:   value kB" line of /proc/self/status, in kB (or plain count); -1 when absent.
inline long statusField(const std::string& name) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.compare(0, name.size() + 1, name + ":") == 0) {
      return std::strtol(line.c_str() + name.size() + 1, nullptr, 10);
    }
  }
  return -1;
}

inline long peakRssKb() {
  return statusField("VmHWM");
}
inline long rssKb() {
  return statusField("VmRSS");
}
inline long threadCount() {
  return statusField("Threads");
}

inline long openFileDescriptors() {
  DIR* dir = ::opendir("/proc/self/fd");
  if (!dir) return -1;
  long count = 0;
  while (const dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] != '.') ++count;
  }
  ::closedir(dir);
  return count - 1;  // the descriptor of the listing itself
}

}  // namespace loomset::bench
