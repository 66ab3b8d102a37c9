// Costs on the road from an application's push to a stored hit: an event pushed through the
// manager's data layer into a container whose rule fires one analytics pass-through tag ("_qr"),
// until the tracker has taken the hit, all on the pushing thread; and pixel hits added to the
// pixel hit store (MOXDataProvider, without the dispatcher's rate limiter) until committed to
// its SQLite file. The library runs on its real threads over a scratch data root.
#include <benchmark/benchmark.h>

#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

#include "SavedCopyApplied.h"
#include "loomset/MOXContainer.h"
#include "loomset/MOXDataLayer.h"
#include "loomset/MOXLog.h"
#include "loomset/MOXManager.h"
#include "loomset/Objects.h"
#include "loomset/PLU.h"
#include "loomset/PLUCollectorEndpoints.h"
#include "loomset/platform/Platform.h"
#include "loomset/proto/resource_with_metadata.pb.h"
#include "tags/MOXDataProvider.h"
#include "tools/loomset/SourceCompiler.h"

namespace loomset {
namespace {

using namespace obj;

constexpr char kId[] = "GTM-DELIVERY";

// One rule: every "screen_view" fires one pass-through screen view.
constexpr char kContainerSource[] = R"({
  "version": "1",
  "macros": {"eventName": {"function": "_e"}},
  "predicates": {
    "isScreenView": {"function": "_eq", "properties": {"arg0": {"$macro": "eventName"}, "arg1": "screen_view"}}
  },
  "tags": {
    "screenView": {
      "function": "_qr",
      "properties": {
        "analytics_pass_through": true,
        "analytics_fields": {"&t": "screenview", "&tid": "UA-BENCH-1", "&cd": "home"}
      }
    }
  },
  "rules": [{"if": ["isScreenView"], "addTags": ["screenView"]}]
})";

// A scratch data root holding the container's saved copy (fresh, so nothing is fetched),
// installed as the platform's; the analytics half in dry run, so no hit leaves the process.
class DeliveryPlatform {
 public:
  DeliveryPlatform() {
    // A folder of its own: the library's workers of an earlier benchmark in this process may
    // still be writing into theirs.
    std::string pattern =
        (std::filesystem::temp_directory_path() / "loomset-delivery-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot make a scratch folder");
    root_ = pattern;
    const auto folder = root_ / "Library/Application Support/Orvex/Loomset";
    std::filesystem::create_directories(folder);
    auto platform = Platform::systemDefault();
    MOXPResourceWithMetadata saved;
    saved.set_time_stamp(platform->clock->nowMillisInt());
    saved.mutable_resource();
    *saved.mutable_supplemented_resource()->mutable_resource() =
        tools::compileContainerSourceText(kContainerSource).resource;
    saved.mutable_supplemented_resource()->set_fingerprint("bench");
    std::ofstream(folder / (std::string("resource_") + kId), std::ios::binary)
        << saved.SerializeAsString();
    platform->directories = DataDirectories(root_.string());
    Platform::setCurrent(platform);
    PLUCollectorEndpoints endpoints;
    endpoints.plainBaseUrl = endpoints.secureBaseUrl = "http://127.0.0.1:9";
    PLUCollectorEndpoints::setShared(endpoints);
    MOXLog::logger()->setLogLevel(kMOXLogLevelNone);
    PLU::sharedInstance()->setDryRun(true);
  }
  ~DeliveryPlatform() {
    Platform::setCurrent(nullptr);
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
  std::string path(const std::string& name) const { return (root_ / name).string(); }

 private:
  std::filesystem::path root_;
};

void BM_PushToPassThroughHitTaken(benchmark::State& state) {
  const DeliveryPlatform platform;
  const auto manager = MOXManager::createWithSameInstance(false);
  const auto applied = std::make_shared<bench::SavedCopyApplied>();
  const auto container = manager->openContainerById(kId, applied);
  applied->wait();
  const auto event = dict({{"event", str("screen_view")}});
  for (auto _ : state) manager->dataLayer()->push(event);
  container->close();
  MOXManager::clearManagerInstance();
}
BENCHMARK(BM_PushToPassThroughHitTaken)
    ->Name("event pushed to _qr pass-through hit taken by the tracker")
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

void BM_PixelHitsAddedAndCommitted(benchmark::State& state) {
  constexpr int kBurst = 1000;
  const DeliveryPlatform platform;
  MOXDataProvider::Options options;
  options.path = platform.path("WEN.sql");
  auto store = MOXDataProvider::create(options);
  // Only the adding and committing is measured; no count limit trims the table meanwhile.
  store->setMaxHitCount(0);
  std::int64_t next = 0;
  for (auto _ : state) {
    for (int i = 0; i < kBurst; ++i) {
      store->addHitWithURLString("https://pixel.example/p?n=" + std::to_string(next++));
    }
    store->onExit();  // waits until the burst is committed
  }
  state.SetItemsProcessed(state.iterations() * kBurst);
  state.counters["hits/s"] = benchmark::Counter(static_cast<double>(state.iterations() * kBurst),
                                                benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PixelHitsAddedAndCommitted)
    ->Name("pixel hits added through MOXDataProvider and committed, 1,000 in a burst")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

}  // namespace
}  // namespace loomset
