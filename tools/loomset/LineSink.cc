#include "tools/loomset/LineSink.h"

namespace loomset::tools {

void LineSink::write(const Json& line) {
  std::lock_guard<std::mutex> lock(mu_);
  if (held_) {
    kept_.push_back(line);
  } else {
    writer_.write(line);
  }
}

void LineSink::writeNow(const Json& line) {
  std::lock_guard<std::mutex> lock(mu_);
  writer_.write(line);
}

void LineSink::hold() {
  std::lock_guard<std::mutex> lock(mu_);
  held_ = true;
}

void LineSink::release() {
  std::lock_guard<std::mutex> lock(mu_);
  held_ = false;
  for (const Json& line : kept_) writer_.write(line);
  kept_.clear();
}

}  // namespace loomset::tools
