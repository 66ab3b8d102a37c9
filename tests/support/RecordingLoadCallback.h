// A load callback that records what a loader reports, in order, with whether each call ran on
// the platform's main loop, for the tests of saved-resource and network loading.
//
// Threads: loaders may call it from any thread; read it from any thread.
#pragma once

#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "container/loading/MOXLoadCallback.h"
#include "loomset/platform/Platform.h"

namespace loomset::testing {

template <typename Resource>
class RecordingLoadCallback final : public MOXLoadCallback<Resource> {
 public:
  enum class Kind { kStart, kSuccess, kFailure };
  struct Event {
    Kind kind;
    std::optional<Resource> resource;  // kSuccess
    MOXLoadFailure failure{};          // kFailure
    bool onMainLoop = false;
  };

  void startLoad() override { add({Kind::kStart, std::nullopt, {}, onMainLoop()}); }
  void onSuccess(const Resource& resource) override {
    add({Kind::kSuccess, resource, {}, onMainLoop()});
  }
  void onFailure(MOXLoadFailure failure) override {
    add({Kind::kFailure, std::nullopt, failure, onMainLoop()});
  }

  std::vector<Event> events() const {
    std::lock_guard<std::mutex> lock(mu_);
    return events_;
  }
  // Successes and failures.
  std::size_t results() const {
    std::lock_guard<std::mutex> lock(mu_);
    std::size_t n = 0;
    for (const auto& event : events_) n += event.kind != Kind::kStart;
    return n;
  }
  std::size_t starts() const {
    std::lock_guard<std::mutex> lock(mu_);
    std::size_t n = 0;
    for (const auto& event : events_) n += event.kind == Kind::kStart;
    return n;
  }
  // The only result; fails the test when there is not exactly one.
  Event result() const {
    std::lock_guard<std::mutex> lock(mu_);
    std::vector<Event> results;
    for (const auto& event : events_) {
      if (event.kind != Kind::kStart) results.push_back(event);
    }
    if (results.size() != 1) {
      ADD_FAILURE() << "expected exactly one result, got " << results.size();
      return Event{Kind::kStart, std::nullopt, {}, false};
    }
    return results.front();
  }
  // "start", "success", "failure N", joined with spaces.
  std::string summary() const {
    std::lock_guard<std::mutex> lock(mu_);
    std::string text;
    for (const auto& event : events_) {
      if (!text.empty()) text += " ";
      switch (event.kind) {
        case Kind::kStart:
          text += "start";
          break;
        case Kind::kSuccess:
          text += "success";
          break;
        case Kind::kFailure:
          text += "failure " + std::to_string(event.failure);
          break;
      }
    }
    return text;
  }

 private:
  static bool onMainLoop() {
    const auto loop = Platform::current()->mainLoop;
    return loop && loop->isCurrent();
  }
  void add(Event event) {
    std::lock_guard<std::mutex> lock(mu_);
    events_.push_back(std::move(event));
  }

  mutable std::mutex mu_;
  std::vector<Event> events_;
};

}  // namespace loomset::testing
