// Helpers shared by the data-layer tests.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "loomset/MOXDataLayer.h"
#include "loomset/Objects.h"

namespace loomset::testing {

// A listener that runs a function for every update.
class FunctionListener : public MOXDataLayerListener {
 public:
  using Fn = std::function<void(const std::shared_ptr<Dictionary>&)>;
  explicit FunctionListener(Fn fn) : fn_(std::move(fn)) {}
  static std::shared_ptr<FunctionListener> make(Fn fn) {
    return std::make_shared<FunctionListener>(std::move(fn));
  }
  void changed(const std::shared_ptr<Dictionary>& update) override { fn_(update); }

 private:
  Fn fn_;
};

// Records the first key of every update it is told about (thread-safe).
class KeyRecorder : public MOXDataLayerListener {
 public:
  void changed(const std::shared_ptr<Dictionary>& update) override {
    std::lock_guard<std::mutex> lock(mu_);
    keys_.push_back(update->count() ? describe(update->entries()[0].first) : "");
  }
  std::vector<std::string> keys() const {
    std::lock_guard<std::mutex> lock(mu_);
    return keys_;
  }

 private:
  mutable std::mutex mu_;
  std::vector<std::string> keys_;
};

inline std::string text(const ObjectPtr& o) {
  return describe(o);
}

}  // namespace loomset::testing
