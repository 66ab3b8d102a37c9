// What the analytics half costs in memory and on disk: the peak resident memory of a process that
// stores and drains 20,000 hits (ten rounds of 2,000, the store's limit, over several tracking
// ids) to a collector on 127.0.0.1, counted above the process before any of it started, and the
// size of the files holding 2,000 stored hits. Run this program on its own: the peak is the
// process's (VmHWM), so the memory benchmark is registered first.
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "AcceptingCollector.h"
#include "BenchAnalytics.h"
#include "BenchDataRoot.h"
#include "ProcessStatus.h"
#include "analytics/dispatch/PLUBatchingDispatcher.h"
#include "analytics/model/PLUModelEnvironment.h"
#include "analytics/model/PLUTrackerModel.h"
#include "loomset/PLUFields.h"
#include "loomset/platform/Platform.h"
#include "support/LocalHttpServer.h"

namespace loomset {
namespace {

const long kEmptyProcessPeakKb = bench::peakRssKb();

struct Analytics {
  bench::BenchDataRoot root{"resources-bench"};
  std::shared_ptr<Platform> platform;
  std::shared_ptr<const PLUModelEnvironment> environment;
  std::shared_ptr<PLUDataStore> store;
  std::shared_ptr<PLUBatchingDispatcher> dispatcher;

  explicit Analytics(const PLUCollectorEndpoints& endpoints) {
    platform = std::make_shared<Platform>(*Platform::systemDefault());
    platform->directories = DataDirectories(root.path());
    Platform::setCurrent(platform);
    environment = PLUModelEnvironment::create(platform, nullptr);
    store = PLUDataStore::create(platform, platform->analyticsWorker);
    dispatcher = bench::quietDispatcher(platform, store, endpoints);
  }
  ~Analytics() {
    dispatcher.reset();
    store.reset();
    platform->analyticsWorker->postAndWait([] {});
    Platform::setCurrent(nullptr);
  }

  void queueEvent(int n) {
    PLUTrackerModel model(store, environment);
    model.setValue("UA-RSS-" + std::to_string(n % 8), kPLUTrackingId);
    dispatcher->queueModel(model.copyWithOverride({{kPLUHitType, std::string("event")},
                                                   {kPLUEventCategory, std::string("video")},
                                                   {kPLUEventAction, std::string("play")},
                                                   {kPLUEventLabel, "clip " + std::to_string(n)}}));
  }
  std::int64_t storedHits() {
    std::int64_t count = -1;
    platform->analyticsWorker->postAndWait([&] { count = store->hitCount(); });
    return count;
  }
};

void BM_PeakMemoryStoringAndDraining20000Hits(benchmark::State& state) {
  bench::AcceptingCollector accepting;
  testing::LocalHttpServer& collector = accepting.server;
  const PLUCollectorEndpoints& endpoints = accepting.endpoints;
  constexpr int kRounds = 10;
  constexpr int kHitsPerRound = 2000;
  std::int64_t left = 0;
  for (auto _ : state) {
    Analytics analytics(endpoints);
    for (int round = 0; round < kRounds; ++round) {
      for (int i = 0; i < kHitsPerRound; ++i) analytics.queueEvent(round * kHitsPerRound + i);
      while (analytics.storedHits() < kHitsPerRound) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      analytics.dispatcher->dispatch();
      while ((left = analytics.storedHits()) > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    }
  }
  const long peak = bench::peakRssKb();
  state.counters["peak_rss_kb"] = static_cast<double>(peak);
  state.counters["empty_process_kb"] = static_cast<double>(kEmptyProcessPeakKb);
  state.counters["above_empty_kb"] = static_cast<double>(peak - kEmptyProcessPeakKb);
  state.counters["requests"] = static_cast<double>(collector.requestCount());
  state.counters["left"] = static_cast<double>(left);
}
BENCHMARK(BM_PeakMemoryStoringAndDraining20000Hits)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

double fileSize(const std::string& path) {
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  return error ? 0.0 : static_cast<double>(size);
}

void BM_FilesHolding2000StoredHits(benchmark::State& state) {
  PLUCollectorEndpoints nowhere;
  nowhere.plainBaseUrl = nowhere.secureBaseUrl = "http://127.0.0.1:9";
  for (auto _ : state) {
    Analytics analytics(nowhere);
    for (int i = 0; i < 2000; ++i) analytics.queueEvent(i);
    while (analytics.storedHits() < 2000) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    PLUError ignored;
    analytics.platform->analyticsWorker->postAndWait([&] { analytics.store->save(&ignored); });
    const std::string library = analytics.platform->directories.libraryDirectory() + "/";
    double total = 0;
    for (const char* name : {"kestrel-v2.sql", "kestrel-v3.sql", "kestrel-aux-v4.sql"}) {
      for (const char* suffix : {"", "-wal", "-journal", "-shm"}) {
        const double size = fileSize(library + name + suffix);
        if (*suffix == '\0') state.counters[std::string(name) + "_bytes"] = size;
        total += size;
      }
    }
    state.counters["all_files_bytes"] = total;
    state.counters["bytes_per_hit"] = total / 2000;
  }
}
BENCHMARK(BM_FilesHolding2000StoredHits)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace loomset
