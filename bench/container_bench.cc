// Costs on the container half's paths: data-layer updates with a lifetime, pushed in a burst and
// persisted by the SQLite data-layer store on its own queue; opening a container whose saved copy
// holds a 500-macro resource, up to the first getter that answers from that copy; and a getter
// whose macro is cached. The library runs on its real threads over a scratch data root.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Library/Util/platform/PosixFileSystem.h"
#include "SavedCopyApplied.h"
#include "datalayer/MOXDataLayerPersistentStoreImpl.h"
#include "loomset/MOXContainer.h"
#include "loomset/MOXDataLayer.h"
#include "loomset/MOXLog.h"
#include "loomset/MOXManager.h"
#include "loomset/Objects.h"
#include "loomset/platform/Platform.h"
#include "loomset/proto/resource_with_metadata.pb.h"
#include "loomset/proto/serving.pb.h"

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

constexpr char kId[] = "GTM-BENCH";
constexpr int kMacros = 500;

// A serving resource of `kMacros` constant macros "m0".."m499", each answering "value <i>".
MOXPResource resourceOfConstants() {
  MOXPResource resource;
  resource.set_version("500");
  resource.add_key("instance_name");
  resource.add_key("function");
  resource.add_key("value");
  MOXPValue* constant = resource.add_value();
  constant->set_type(MOXPValue::FunctionId);
  constant->set_function_id("_c");
  for (int i = 0; i < kMacros; ++i) {
    const int name = resource.value_size();
    MOXPValue* nameValue = resource.add_value();
    nameValue->set_type(MOXPValue::String);
    nameValue->set_string("m" + std::to_string(i));
    MOXPValue* text = resource.add_value();
    text->set_type(MOXPValue::String);
    text->set_string("value " + std::to_string(i));
    MOXPFunctionCall* macro = resource.add_macro();
    for (int key = 0; key < 3; ++key) {
      MOXPProperty* property = resource.add_property();
      property->set_key(key);
      property->set_value(key == 0 ? name : key == 1 ? 0 : name + 1);
      macro->add_property(resource.property_size() - 1);
    }
    macro->set_function(0);
  }
  return resource;
}

// A scratch data root holding the saved copy, installed as the platform's.
class SavedCopyPlatform {
 public:
  SavedCopyPlatform() {
    root_ = std::filesystem::temp_directory_path() / "loomset-container-bench";
    const auto folder = root_ / "Library/Application Support/Orvex/Loomset";
    std::filesystem::create_directories(folder);
    MOXPResourceWithMetadata saved;
    auto platform = Platform::systemDefault();
    // Fetched just now: the next fetch is 12 hours away, so nothing reaches the network.
    saved.set_time_stamp(platform->clock->nowMillisInt());
    saved.mutable_resource();
    *saved.mutable_supplemented_resource()->mutable_resource() = resourceOfConstants();
    saved.mutable_supplemented_resource()->set_fingerprint("bench");
    std::ofstream(folder / (std::string("resource_") + kId), std::ios::binary)
        << saved.SerializeAsString();
    platform->directories = DataDirectories(root_.string());
    Platform::setCurrent(platform);
    MOXLog::logger()->setLogLevel(kMOXLogLevelNone);
  }
  ~SavedCopyPlatform() {
    Platform::setCurrent(nullptr);
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }

 private:
  std::filesystem::path root_;
};

void BM_OpenFromSavedCopyToFirstGetter(benchmark::State& state) {
  const SavedCopyPlatform platform;
  for (auto _ : state) {
    const auto manager = MOXManager::createWithSameInstance(false);
    const auto applied = std::make_shared<bench::SavedCopyApplied>();
    const auto container = manager->openContainerById(kId, applied);
    applied->wait();
    const std::string value = container->stringForKey("m499");
    if (value != "value 499") state.SkipWithError("the saved copy was not applied");
    benchmark::DoNotOptimize(value);
    state.PauseTiming();
    container->close();
    state.ResumeTiming();
  }
  MOXManager::clearManagerInstance();
}
BENCHMARK(BM_OpenFromSavedCopyToFirstGetter)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_StringForKeyOfACachedMacro(benchmark::State& state) {
  const SavedCopyPlatform platform;
  const auto manager = MOXManager::createWithSameInstance(false);
  const auto applied = std::make_shared<bench::SavedCopyApplied>();
  const auto container = manager->openContainerById(kId, applied);
  applied->wait();
  const std::string key = "m250";
  if (container->stringForKey(key) != "value 250") state.SkipWithError("not applied");
  for (auto _ : state) benchmark::DoNotOptimize(container->stringForKey(key));
  container->close();
  MOXManager::clearManagerInstance();
}
BENCHMARK(BM_StringForKeyOfACachedMacro);

// The same lookup explained: evaluated afresh, traced, with the errors it logs kept.
void BM_StringDetailForKeyOfACachedMacro(benchmark::State& state) {
  const SavedCopyPlatform platform;
  const auto manager = MOXManager::createWithSameInstance(false);
  const auto applied = std::make_shared<bench::SavedCopyApplied>();
  const auto container = manager->openContainerById(kId, applied);
  applied->wait();
  const std::string key = "m250";
  if (container->stringDetailForKey(key).value != "value 250") state.SkipWithError("not applied");
  for (auto _ : state) benchmark::DoNotOptimize(container->stringDetailForKey(key));
  container->close();
  MOXManager::clearManagerInstance();
}
BENCHMARK(BM_StringDetailForKeyOfACachedMacro);

}  // namespace
}  // namespace loomset
