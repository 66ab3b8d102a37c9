// Costs on the container half's paths that reach the disk: data-layer updates with a lifetime,
// pushed in a burst and persisted by the SQLite data-layer store on its own queue.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <future>
#include <memory>
#include <string>
#include <vector>

#include "Library/Util/platform/PosixFileSystem.h"
#include "datalayer/MOXDataLayerPersistentStoreImpl.h"
#include "loomset/MOXDataLayer.h"
#include "loomset/Objects.h"
#include "loomset/platform/Platform.h"

namespace loomset {
namespace {

using namespace obj;

// A fresh data root under the system's temporary directory, removed afterwards.
class ScratchRoot {
 public:
  ScratchRoot() {
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/loomset-bench-XXXXXX";
    if (mkdtemp(pattern.data())) path_ = pattern;
  }
  ~ScratchRoot() {
    if (!path_.empty()) PosixFileSystem().removeAll(path_);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// From the first push until the store's queue has committed the last update to the file. Each
// update holds an event, two facts and a one-hour lifetime, so each becomes three rows; from the
// third burst on, every save also trims the table back to its 2,000-row limit.
void BM_DataLayerPushesWithALifetimePersisted(benchmark::State& state) {
  constexpr int kBurst = 1000;
  ScratchRoot root;
  auto platform = Platform::systemDefault();
  platform->directories = DataDirectories(root.path());
  auto store = std::make_shared<MOXDataLayerPersistentStoreImpl>(platform);
  auto dataLayer = MOXDataLayer::createWithPersistentStore(store);

  std::vector<std::shared_ptr<Dictionary>> updates;
  for (int i = 0; i < kBurst; ++i) {
    updates.push_back(dict({{"event", str("screen_view")},
                            {"screen", str("screen " + std::to_string(i % 17))},
                            {"step", i64(i)},
                            {"wen", dict({{"lifetime", str("1h")}})}}));
  }
  for (auto _ : state) {
    for (const auto& update : updates) dataLayer->push(update);
    std::promise<void> committed;
    store->flush([&] { committed.set_value(); });
    committed.get_future().wait();
  }
  state.SetItemsProcessed(state.iterations() * kBurst);
  state.counters["updates/s"] = benchmark::Counter(static_cast<double>(state.iterations() * kBurst),
                                                   benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DataLayerPushesWithALifetimePersisted)
    ->Name("data-layer pushes with a lifetime, 1,000 in a burst, persisted")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

}  // namespace
}  // namespace loomset
