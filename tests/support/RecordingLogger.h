// A MOXLogger that keeps every message, for assertions on log lines.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "loomset/MOXLog.h"

namespace loomset::testing {

class RecordingLogger : public MOXLogger {
 public:
  struct Line {
    std::uint32_t level;
    std::string message;
  };

  void error(const std::string& m) override { add(kMOXLogLevelError, m); }
  void warning(const std::string& m) override { add(kMOXLogLevelWarning, m); }
  void info(const std::string& m) override { add(kMOXLogLevelInfo, m); }
  void debug(const std::string& m) override { add(kMOXLogLevelDebug, m); }
  void verbose(const std::string& m) override { add(kMOXLogLevelVerbose, m); }
  void setLogLevel(std::uint32_t level) override { level_ = level; }
  std::uint32_t logLevel() const override { return level_; }

  std::vector<Line> lines() const;
  std::vector<std::string> messages(std::uint32_t level) const;
  // How many messages of any level contain the text.
  int count(const std::string& text) const;
  bool contains(const std::string& text) const { return count(text) > 0; }
  void clear();

 private:
  void add(std::uint32_t level, const std::string& m);
  mutable std::mutex mu_;
  std::vector<Line> lines_;
  std::atomic<std::uint32_t> level_{kMOXLogLevelVerbose};
};

// Installs a RecordingLogger as the MOXLog logger for the life of the scope.
class ScopedRecordingLogger {
 public:
  ScopedRecordingLogger();
  ~ScopedRecordingLogger();
  RecordingLogger& operator*() { return *logger_; }
  RecordingLogger* operator->() { return logger_.get(); }

 private:
  std::shared_ptr<RecordingLogger> logger_;
  std::shared_ptr<MOXLogger> previous_;
};

}  // namespace loomset::testing
