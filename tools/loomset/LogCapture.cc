#include "tools/loomset/LogCapture.h"

#include <mutex>

namespace loomset::tools {

class ScopedLogCapture::Recorder : public MOXLogger {
 public:
  void error(const std::string& m) override {
    std::lock_guard<std::mutex> lock(mu_);
    errors_.push_back(m);
  }
  void warning(const std::string&) override {}
  void info(const std::string&) override {}
  void debug(const std::string&) override {}
  void verbose(const std::string&) override {}
  void setLogLevel(std::uint32_t) override {}
  std::uint32_t logLevel() const override { return kMOXLogLevelError; }

  std::vector<std::string> errors() const {
    std::lock_guard<std::mutex> lock(mu_);
    return errors_;
  }

 private:
  mutable std::mutex mu_;
  std::vector<std::string> errors_;
};

ScopedLogCapture::ScopedLogCapture()
    : recorder_(std::make_shared<Recorder>()), previous_(MOXLog::logger()) {
  MOXLog::setLogger(recorder_);
}

ScopedLogCapture::~ScopedLogCapture() {
  MOXLog::setLogger(previous_);
}

std::vector<std::string> ScopedLogCapture::errors() const {
  return recorder_->errors();
}

std::string ScopedLogCapture::lastError(const std::string& fallback) const {
  const auto all = errors();
  return all.empty() ? fallback : all.back();
}

}  // namespace loomset::tools
