// A hit collector on 127.0.0.1 for end-to-end tests of the analytics dispatcher: a LocalHttpServer
// that answers "/collect" and "/batch" with 200 (unless scripted otherwise through `server()`) and
// records every request with its gzip or deflate body decompressed and its hits decoded (the query
// of a GET, one hit per body line of a POST).
//
// Threads: all operations are safe from any thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analytics/dispatch/PLUBatchingDispatcher.h"
#include "loomset/PLUCollectorEndpoints.h"
#include "support/LocalHttpServer.h"
#include "support/PLURecording.h"
#include "support/ScopedPlatform.h"

namespace loomset::testing {

class PLUCollector {
 public:
  using DecodedHit = std::map<std::string, std::string>;

  struct Request {
    LocalHttpServer::Request raw;
    std::string method;
    std::string path;
    std::optional<std::string> contentEncoding;
    // The body after undoing its content encoding; nothing when that failed.
    std::optional<std::string> body;
    // The wire text of each hit: the query of a GET, the lines of a POST body.
    std::vector<std::string> hitTexts;
    std::vector<DecodedHit> hits;
  };

  PLUCollector();

  LocalHttpServer& server() { return server_; }
  // Both hosts on this collector (plain and secure differ only by name in tests).
  PLUCollectorEndpoints endpoints() const;

  std::vector<Request> requests() const;
  std::size_t requestCount() const { return server_.requestCount(); }
  // Every hit received, in arrival order.
  std::vector<DecodedHit> hits() const;
  bool waitForRequests(std::size_t count,
                       std::chrono::milliseconds timeout = std::chrono::seconds(20)) const {
    return server_.waitForRequests(count, timeout);
  }

  // "name=value&name" with "+" and "%XX" decoded; a piece without "=" has an empty value.
  static DecodedHit decodeHit(std::string_view text);
  static std::string urlDecode(std::string_view text);
  // gzip or zlib format; nothing when the data is neither or is damaged.
  static std::optional<std::string> inflate(std::string_view data);

 private:
  LocalHttpServer server_;
};

// A batching dispatcher for one test, over a fresh fake platform: its worker loop and hit store's
// loop are one ManualEventLoop on the platform's fake clock (so timers fire only when the test
// moves the clock), its collector is a PLUCollector, its reachability watch is a fake the test
// flips, and a PLURecordingLogger (level verbose) takes the analytics log.
class PLUDispatcherHarness {
 public:
  using Customize = std::function<void(PLUBatchingDispatcher::Options&)>;

  explicit PLUDispatcherHarness(Customize customize = nullptr);
  ~PLUDispatcherHarness();
  PLUDispatcherHarness(const PLUDispatcherHarness&) = delete;
  PLUDispatcherHarness& operator=(const PLUDispatcherHarness&) = delete;

  ScopedPlatform& platform() { return platform_; }
  FakeClock& clock() { return platform_.clock(); }
  ManualEventLoop& worker() { return *worker_; }
  PLUCollector& collector() { return collector_; }
  PLUDataStore& store() { return *store_; }
  PLUBatchingDispatcher& dispatcher() { return *dispatcher_; }
  PLURecordingLogger& log() { return *logger_; }

  // A typical event hit as trackers build it; `label` tells hits apart.
  static PLUHitMap eventHit(const std::string& label, const std::string& trackingId = "UA-1");
  // Queues the hit and runs the worker until it is stored.
  void queue(PLUHitMap hit);
  // Dispatches with a completion handler and drives the worker until it has answered.
  PLUDispatchOutcome dispatchAndWait();
  // Drives the worker until the condition holds; false after a generous timeout.
  bool driveUntil(const std::function<bool()>& condition);
  std::int64_t storedHits() { return store_->hitCount(); }
  // Moves the wall clock alone, so hit times and ages change while no timer comes due.
  void advanceWallClock(double seconds) {
    clock().setNowMillis(clock().nowMillis() + seconds * 1000);
  }
  // Reports the collector host reachable or not through the fake watch, and runs the worker.
  void setReachable(bool reachable);

 private:
  PLUCollector collector_;  // outlives the dispatcher and its requests
  ScopedPlatform platform_;
  std::shared_ptr<PLURecordingLogger> logger_;
  std::shared_ptr<ManualEventLoop> worker_;
  std::shared_ptr<PLUDataStore> store_;
  std::shared_ptr<std::function<void(std::uint32_t)>> reachabilityCallback_;
  std::shared_ptr<PLUBatchingDispatcher> dispatcher_;
};

}  // namespace loomset::testing
