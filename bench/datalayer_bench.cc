// Costs of the data layer's two hot operations: pushing a typical event and reading a nested key.
#include <benchmark/benchmark.h>

#include <string>

#include "loomset/MOXDataLayer.h"
#include "loomset/Objects.h"

namespace loomset {
namespace {

using namespace obj;

class CountingListener : public MOXDataLayerListener {
 public:
  void changed(const std::shared_ptr<Dictionary>& update) override { count_ += update->count(); }
  std::size_t count_ = 0;
};

void BM_PushTenKeyUpdateOneListener(benchmark::State& state) {
  auto dataLayer = MOXDataLayer::create();
  auto listener = std::make_shared<CountingListener>();
  dataLayer->registerListener(listener);
  auto update = dict({{"event", str("purchase")},
                      {"currency", str("EUR")},
                      {"value", dbl(19.99)},
                      {"quantity", i64(2)},
                      {"sku", str("SKU-1234")},
                      {"category", str("books")},
                      {"coupon", str("SPRING")},
                      {"logged_in", boolean(true)},
                      {"screen", str("checkout")},
                      {"step", i64(3)}});
  for (auto _ : state) dataLayer->push(update);
  benchmark::DoNotOptimize(listener->count_);
}
BENCHMARK(BM_PushTenKeyUpdateOneListener);

void BM_GetThreeComponentKeyPath(benchmark::State& state) {
  auto dataLayer = MOXDataLayer::create();
  for (int i = 0; i < 20; ++i) {
    dataLayer->pushValue(i64(i), "user.profile.field" + std::to_string(i));
    dataLayer->pushValue(i64(i), "top" + std::to_string(i));
  }
  dataLayer->pushValue(str("gold"), "user.profile.tier");
  const std::string path = "user.profile.tier";
  for (auto _ : state) benchmark::DoNotOptimize(dataLayer->get(path));
}
BENCHMARK(BM_GetThreeComponentKeyPath);

}  // namespace
}  // namespace loomset
