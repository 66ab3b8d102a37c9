#include "support/RecordingLogger.h"

namespace loomset::testing {

void RecordingLogger::add(std::uint32_t level, const std::string& m) {
  if (level < level_.load()) return;
  std::lock_guard<std::mutex> lock(mu_);
  lines_.push_back({level, m});
}

std::vector<RecordingLogger::Line> RecordingLogger::lines() const {
  std::lock_guard<std::mutex> lock(mu_);
  return lines_;
}

std::vector<std::string> RecordingLogger::messages(std::uint32_t level) const {
  std::lock_guard<std::mutex> lock(mu_);
  std::vector<std::string> out;
  for (const auto& l : lines_) {
    if (l.level == level) out.push_back(l.message);
  }
  return out;
}

int RecordingLogger::count(const std::string& text) const {
  std::lock_guard<std::mutex> lock(mu_);
  int n = 0;
  for (const auto& l : lines_) {
    if (l.message.find(text) != std::string::npos) ++n;
  }
  return n;
}

void RecordingLogger::clear() {
  std::lock_guard<std::mutex> lock(mu_);
  lines_.clear();
}

ScopedRecordingLogger::ScopedRecordingLogger()
    : logger_(std::make_shared<RecordingLogger>()), previous_(MOXLog::logger()) {
  MOXLog::setLogger(logger_);
}

ScopedRecordingLogger::~ScopedRecordingLogger() {
  MOXLog::setLogger(previous_);
}

}  // namespace loomset::testing
