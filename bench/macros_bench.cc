// Costs of the built-in macros that do real work on each evaluation: a SHA-256 digest, a
// base64 encoding and a 20-item join, each called the way the runtime calls it (a parameter map
// of evaluated Values in, a new Value out).
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "loomset/MOXParameterMap.h"
#include "loomset/MOXTypes.h"
#include "loomset/Objects.h"
#include "runtime/macros/MOXEncode.h"
#include "runtime/macros/MOXHashMacro.h"
#include "runtime/macros/MOXJoinerMacro.h"

namespace loomset {
namespace {

ValuePtr str(const std::string& text) {
  return MOXTypes::objectToValue(String::create(text));
}

// 64 bytes of text.
const std::string kText64 =
    std::string("The quick brown fox jumps over the lazy dog while the hits are counted.")
        .substr(0, 64);

MOXParameterMap params(std::vector<std::pair<std::string, ValuePtr>> entries) {
  MOXParameterMap map;
  for (auto& [key, value] : entries) map.append(key, std::move(value));
  return map;
}

void BM_HashSha256Of64Bytes(benchmark::State& state) {
  MOXHashMacro macro;
  const MOXParameterMap map = params({{"arg0", str(kText64)}, {"algorithm", str("SHA-256")}});
  for (auto _ : state) benchmark::DoNotOptimize(macro.evaluate(map));
}
BENCHMARK(BM_HashSha256Of64Bytes);

void BM_EncodeTextToBase64Of64Bytes(benchmark::State& state) {
  MOXEncode macro;
  const MOXParameterMap map = params({{"arg0", str(kText64)}, {"output_format", str("base64")}});
  for (auto _ : state) benchmark::DoNotOptimize(macro.evaluate(map));
}
BENCHMARK(BM_EncodeTextToBase64Of64Bytes);

void BM_JoinListOf20Items(benchmark::State& state) {
  MOXJoinerMacro macro;
  auto list = std::make_shared<MOXPValue>();
  list->set_type(MOXPValue::List);
  for (int i = 0; i < 20; ++i) *list->add_list_item() = *str("item-" + std::to_string(i));
  const MOXParameterMap map = params({{"arg0", list}, {"item_separator", str(",")}});
  for (auto _ : state) benchmark::DoNotOptimize(macro.evaluate(map));
}
BENCHMARK(BM_JoinListOf20Items);

}  // namespace
}  // namespace loomset
