// Memory of hits handed to the dispatcher but not yet taken by its worker: the bytes one queued
// hit holds on the heap (2,000 event hits queued while the worker is busy, the store's limit), and
// how much a burst of 20,000 hits from many trackers adds to the process's peak resident memory
// until they are stored. The peak is the process's (VmHWM): the burst is registered first, and for
// a figure of its own run it alone (--benchmark_filter=Burst).
#include <benchmark/benchmark.h>

#include <malloc.h>
#include <stdlib.h>

#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "BenchAnalytics.h"
#include "BenchDataRoot.h"
#include "ProcessStatus.h"
#include "analytics/dispatch/PLUBatchingDispatcher.h"
#include "analytics/model/PLUModelEnvironment.h"
#include "analytics/model/PLUTrackerModel.h"
#include "loomset/PLUFields.h"
#include "loomset/platform/EventLoop.h"
#include "loomset/platform/Platform.h"

namespace loomset {
namespace {

struct Analytics {
  bench::BenchDataRoot root{"queue-bench"};
  std::shared_ptr<Platform> platform;
  std::shared_ptr<const PLUModelEnvironment> environment;
  std::shared_ptr<PLUDataStore> store;
  std::shared_ptr<PLUBatchingDispatcher> dispatcher;

  Analytics() {
    platform = std::make_shared<Platform>(*Platform::systemDefault());
    platform->directories = DataDirectories(root.path());
    Platform::setCurrent(platform);
    environment = PLUModelEnvironment::create(platform, nullptr);
    store = PLUDataStore::create(platform, platform->analyticsWorker);
    dispatcher = bench::quietDispatcher(platform, store, bench::unreachableEndpoints());
    platform->analyticsWorker->postAndWait([] {});
  }
  ~Analytics() {
    dispatcher.reset();
    store.reset();
    platform->analyticsWorker->postAndWait([] {});
    Platform::setCurrent(nullptr);
  }

  // A typical event hit of one of 16 trackers.
  PLUTrackerModel event(int n) const {
    return bench::typicalEventHit(store, environment, "UA-QUEUE-" + std::to_string(n % 16), n);
  }

  // Keeps the worker busy until the returned promise is set.
  std::shared_ptr<std::promise<void>> holdWorker() {
    auto release = std::make_shared<std::promise<void>>();
    auto started = std::make_shared<std::promise<void>>();
    platform->analyticsWorker->post([release, started] {
      started->set_value();
      release->get_future().wait();
    });
    started->get_future().wait();
    return release;
  }

  void storeAll() {
    platform->analyticsWorker->postAndWait([] {});
    platform->analyticsWorker->postAndWait([] {});
  }
};

void BM_BurstOf20000QueuedHitsPeakMemory(benchmark::State& state) {
  constexpr int kHits = 20000;
  long added = 0;
  long stored = 0;
  for (auto _ : state) {
    Analytics analytics;
    // Warm the store and the loops with a small burst, so that the peak measured is the queue's.
    for (int i = 0; i < 100; ++i) analytics.dispatcher->queueModel(analytics.event(i));
    analytics.storeAll();
    const long before = bench::peakRssKb();
    auto release = analytics.holdWorker();
    for (int i = 0; i < kHits; ++i) analytics.dispatcher->queueModel(analytics.event(i));
    release->set_value();
    analytics.storeAll();
    added = bench::peakRssKb() - before;
    stored = static_cast<long>(analytics.store->hitCount());
  }
  state.counters["peak_added_kb"] = static_cast<double>(added);
  state.counters["stored"] = static_cast<double>(stored);
}
BENCHMARK(BM_BurstOf20000QueuedHitsPeakMemory)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_BytesPerQueuedHit(benchmark::State& state) {
  constexpr int kHits = 2000;
  double perHit = 0;
  for (auto _ : state) {
    Analytics analytics;
    for (int i = 0; i < 100; ++i) analytics.dispatcher->queueModel(analytics.event(i));
    analytics.storeAll();
    auto release = analytics.holdWorker();
    // Heap bytes in use, over all arenas: the resident size moves in pages and reuses freed room.
    const std::size_t before = mallinfo2().uordblks;
    for (int i = 0; i < kHits; ++i) analytics.dispatcher->queueModel(analytics.event(i));
    const std::size_t after = mallinfo2().uordblks;
    release->set_value();
    analytics.storeAll();
    perHit = (static_cast<double>(after) - static_cast<double>(before)) / kHits;
  }
  state.counters["bytes_per_queued_hit"] = perHit;
}
BENCHMARK(BM_BytesPerQueuedHit)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace loomset
