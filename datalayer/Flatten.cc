#include "datalayer/Flatten.h"

#include <string>

#include "loomset/MOXLog.h"
#include "loomset/Objects.h"

namespace loomset::datalayer {
namespace {

constexpr const char* kLifetimePath = "wen.lifetime";

std::string keyText(const ObjectPtr& key) {
  const String* s = asString(key);
  return s ? s->text() : describe(key);
}

void flattenInto(const Dictionary& map, const std::string& prefix, int depth,
                 std::vector<MOXKeyValue>& out, bool& tooDeep) {
  for (const auto& [key, value] : map.entries()) {
    std::string path = depth == 1 ? keyText(key) : prefix + "." + keyText(key);
    if (const Dictionary* nested = asDictionary(value)) {
      if (depth >= MOXDataLayer::kMaxNestingDepth) {
        tooDeep = true;
        continue;
      }
      flattenInto(*nested, path, depth + 1, out, tooDeep);
    } else if (path != kLifetimePath) {
      out.emplace_back(std::move(path), value);
    }
  }
}

}  // namespace

std::vector<MOXKeyValue> flatten(const Dictionary& update) {
  std::vector<MOXKeyValue> entries;
  bool tooDeep = false;
  flattenInto(update, std::string(), 1, entries, tooDeep);
  if (tooDeep) {
    MOXLog::error("Data layer update nested deeper than " +
                  std::to_string(MOXDataLayer::kMaxNestingDepth) +
                  " levels; the deeper entries are not saved");
  }
  return entries;
}

}  // namespace loomset::datalayer
