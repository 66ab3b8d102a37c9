// The dispatcher's costs: hits persisted per second through `queueModel` into the SQLite hit store
// (hit numbering included), the time to drain 2,000 stored hits to a collector on 127.0.0.1 with
// the default settings, and the bytes a gzip batch of 20 typical event hits puts on the wire.
#include <benchmark/benchmark.h>

#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "AcceptingCollector.h"
#include "BenchAnalytics.h"
#include "BenchDataRoot.h"
#include "analytics/dispatch/PLUBatchingDispatcher.h"
#include "analytics/dispatch/PLUHitRequest.h"
#include "analytics/dispatch/PLUPayload.h"
#include "analytics/model/PLUModelEnvironment.h"
#include "analytics/model/PLUTrackerModel.h"
#include "loomset/PLU.h"
#include "loomset/PLUFields.h"
#include "loomset/PLULogger.h"
#include "loomset/platform/Platform.h"
#include "support/LocalHttpServer.h"

namespace loomset {
namespace {

std::shared_ptr<Platform> benchPlatform(const std::string& root) {
  auto platform = std::make_shared<Platform>(*Platform::systemDefault());
  platform->application.name = "Bench";
  platform->application.identifier = "org.loomset.bench";
  platform->application.shortVersion = "1.0";
  platform->device.preferredLanguages = {"en-US"};
  platform->device.screenWidth = 1024;
  platform->device.screenHeight = 768;
  platform->directories = DataDirectories(root);
  return platform;
}

// Removed when the program ends, although the fixture that uses it is never destroyed.
const bench::BenchDataRoot& dataRoot() {
  static const bench::BenchDataRoot root{"dispatch-bench"};
  return root;
}

struct Fixture {
  std::shared_ptr<Platform> platform = benchPlatform(dataRoot().path());
  std::shared_ptr<const PLUModelEnvironment> environment;
  std::shared_ptr<PLUDataStore> store;

  Fixture() {
    Platform::setCurrent(platform);
    environment = PLUModelEnvironment::create(platform, nullptr);
    store = PLUDataStore::create(platform, platform->analyticsWorker);
  }
  ~Fixture() {
    store.reset();
    Platform::setCurrent(nullptr);
  }

  std::shared_ptr<PLUBatchingDispatcher> dispatcher(const PLUCollectorEndpoints& endpoints) {
    return bench::quietDispatcher(platform, store, endpoints);
  }

  // A tracker's model for one typical event hit.
  PLUTrackerModel eventModel(int n) const {
    return bench::typicalEventHit(store, environment, "UA-12345-1", n);
  }

  void clearStore() {
    store->deleteAllHits();
    store->save();
  }
};

Fixture& fixture() {
  static Fixture* instance = new Fixture();  // lives for the program: the worker thread does
  return *instance;
}

void BM_PersistHitsThroughQueueModel(benchmark::State& state) {
  Fixture& f = fixture();
  auto dispatcher = f.dispatcher(bench::unreachableEndpoints());
  const int batch = static_cast<int>(state.range(0));
  std::vector<PLUTrackerModel> models;
  for (int i = 0; i < batch; ++i) models.push_back(f.eventModel(i));
  for (auto _ : state) {
    state.PauseTiming();
    f.clearStore();
    std::vector<PLUTrackerModel> copies = models;
    state.ResumeTiming();
    for (auto& model : copies) dispatcher->queueModel(std::move(model));
    // Every queued hit is stored (and saved) once the worker has run past them.
    f.platform->analyticsWorker->postAndWait([] {});
    f.platform->analyticsWorker->postAndWait([] {});
  }
  state.SetItemsProcessed(state.iterations() * batch);
  state.counters["stored"] = static_cast<double>(f.store->hitCount());
}
BENCHMARK(BM_PersistHitsThroughQueueModel)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DrainTwoThousandStoredHits(benchmark::State& state) {
  Fixture& f = fixture();
  bench::AcceptingCollector accepting;
  testing::LocalHttpServer& collector = accepting.server;
  auto dispatcher = f.dispatcher(accepting.endpoints);
  constexpr int kHits = 2000;
  std::size_t requestsBefore = 0;
  for (auto _ : state) {
    state.PauseTiming();
    f.clearStore();
    for (int i = 0; i < kHits; ++i) dispatcher->queueModel(f.eventModel(i));
    f.platform->analyticsWorker->postAndWait([] {});
    f.platform->analyticsWorker->postAndWait([] {});
    requestsBefore = collector.requestCount();
    state.ResumeTiming();

    dispatcher->dispatch();
    // 20 hits per request with the defaults; the store is empty once the last answer is handled.
    collector.waitForRequests(requestsBefore + kHits / 20, std::chrono::seconds(60));
    for (;;) {
      std::int64_t left = -1;
      f.platform->analyticsWorker->postAndWait([&] { left = f.store->hitCount(); });
      if (left == 0) break;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  }
  state.SetItemsProcessed(state.iterations() * kHits);
  state.counters["requests"] = benchmark::Counter(static_cast<double>(collector.requestCount()),
                                                  benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_DrainTwoThousandStoredHits)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same drain through the public API, as `loomset track`'s drain runs it: one
// `dispatchWithCompletionHandler` per batch, the next one asked for once the handler (on the main
// loop) has reported the last.
void BM_DrainTwoThousandStoredHitsThroughPublicApi(benchmark::State& state) {
  Fixture& f = fixture();
  bench::AcceptingCollector accepting;
  testing::LocalHttpServer& collector = accepting.server;
  auto dispatcher = f.dispatcher(accepting.endpoints);
  constexpr int kHits = 2000;
  int batches = 0;
  for (auto _ : state) {
    state.PauseTiming();
    f.clearStore();
    for (int i = 0; i < kHits; ++i) dispatcher->queueModel(f.eventModel(i));
    f.platform->analyticsWorker->postAndWait([] {});
    f.platform->analyticsWorker->postAndWait([] {});
    state.ResumeTiming();

    batches = 0;
    for (;;) {
      auto promise = std::make_shared<std::promise<PLUDispatchOutcome>>();
      auto outcome = promise->get_future();
      dispatcher->dispatchWithCompletionHandler(
          [promise](PLUDispatchOutcome result) { promise->set_value(result); });
      if (outcome.get() != kPLUDispatchSent) break;
      ++batches;
    }
  }
  state.SetItemsProcessed(state.iterations() * kHits);
  state.counters["batches"] = batches;
}
BENCHMARK(BM_DrainTwoThousandStoredHitsThroughPublicApi)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_GzipBatchOfTwentyEventHits(benchmark::State& state) {
  Fixture& f = fixture();
  std::vector<PLUStoredHit> hits;
  const double now = f.platform->clock->nowSeconds();
  for (int i = 0; i < 20; ++i) {
    PLUTrackerModel model = f.eventModel(i);
    PLUStoredHit hit;
    hit.parameters = model.buildDictionary();
    hit.parameters[kPLUHitNumber] = std::to_string(i);
    hit.timestamp = now - 60 + i * 3;
    hits.push_back(std::move(hit));
  }
  const PLURequestBuilder builder(PLURequestBuilder::userAgentFor(f.platform->device));
  std::size_t plain = 0;
  std::size_t body = 0;
  std::size_t head = 0;
  for (auto _ : state) {
    std::vector<std::string> texts;
    for (const auto& hit : hits) texts.push_back(plu_parametersForHit(hit, now));
    const std::string payload = plu_buildPayload(texts, 8192);
    auto request = builder.requestPostUrl("https://ssl.kestrel.orvex.com/batch", payload,
                                          PLURequestBuilder::kCompressionGzip);
    benchmark::DoNotOptimize(request);
    plain = payload.size();
    body = request->body.size();
    head = std::string("POST /batch HTTP/1.1\r\nHost: ssl.kestrel.orvex.com\r\n").size() + 2;
    for (const auto& [name, value] : request->headers) head += name.size() + value.size() + 4;
  }
  state.counters["payload_bytes_per_hit"] = static_cast<double>(plain) / 20;
  state.counters["gzip_bytes_per_hit"] = static_cast<double>(body) / 20;
  state.counters["header_bytes_per_hit"] = static_cast<double>(head) / 20;
}
BENCHMARK(BM_GzipBatchOfTwentyEventHits)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace loomset
