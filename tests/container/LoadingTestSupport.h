// Shared by the loading tests: small resources that tell versions apart, and driving the manual
// main loop while real threads (the HTTP client's) post answers to it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "loomset/proto/resource_with_metadata.pb.h"
#include "loomset/proto/serving.pb.h"
#include "support/ManualEventLoop.h"

namespace loomset::testing {

// A complete serving resource of that version with one constant macro, padded with `padding`
// bytes of key text so that tests can make files of a chosen size.
inline MOXPResource versionedResource(const std::string& version, std::size_t padding = 0) {
  MOXPResource resource;
  resource.set_version(version);
  resource.add_key("function");
  resource.add_key(std::string(padding, 'k'));
  MOXPValue* value = resource.add_value();
  value->set_type(MOXPValue::String);
  value->set_string("value of " + version);
  return resource;
}

// A saved file's message as the container writes it: the resource inside the supplemented
// resource, an empty one in its own place.
inline MOXPResourceWithMetadata savedResource(const std::string& version, std::int64_t timeStamp,
                                              std::size_t padding = 0) {
  MOXPResourceWithMetadata saved;
  saved.set_time_stamp(timeStamp);
  saved.mutable_resource();
  MOXPLegacyRawProtoSupplementedResource* supplemented = saved.mutable_supplemented_resource();
  *supplemented->mutable_resource() = versionedResource(version, padding);
  supplemented->set_fingerprint("fp-" + version);
  return saved;
}

// Runs the loop until the condition holds (true) or 20 seconds pass (false).
inline bool driveUntil(ManualEventLoop& loop, const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  for (;;) {
    loop.runUntilIdle();
    if (condition()) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

// Runs the loop for a while of real time, for tests that something does not happen.
inline void driveFor(ManualEventLoop& loop, std::chrono::milliseconds duration) {
  const auto end = std::chrono::steady_clock::now() + duration;
  while (std::chrono::steady_clock::now() < end) {
    loop.runUntilIdle();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  loop.runUntilIdle();
}

}  // namespace loomset::testing
