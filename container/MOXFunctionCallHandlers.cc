#include "container/MOXFunctionCallHandlers.h"

#include <utility>

namespace loomset {
namespace {

template <typename Map, typename Handler>
void store(Map& map, Handler handler, const std::string& name) {
  if (handler) {
    map[name] = std::move(handler);
  } else {
    map.erase(name);
  }
}

template <typename Map>
typename Map::mapped_type find(const Map& map, const std::string& name) {
  const auto it = map.find(name);
  return it == map.end() ? nullptr : it->second;
}

}  // namespace

void MOXFunctionCallHandlers::registerFunctionCallTagHandler(
    std::shared_ptr<MOXFunctionCallTagHandler> handler, const std::string& tagName) {
  MutexLock lock(mu_);
  store(tags_, std::move(handler), tagName);
}

void MOXFunctionCallHandlers::registerFunctionCallMacroHandler(
    std::shared_ptr<MOXFunctionCallMacroHandler> handler, const std::string& macroName) {
  MutexLock lock(mu_);
  store(macros_, std::move(handler), macroName);
}

std::shared_ptr<MOXFunctionCallTagHandler> MOXFunctionCallHandlers::functionCallTagHandlerForTag(
    const std::string& tagName) const {
  MutexLock lock(mu_);
  return find(tags_, tagName);
}

std::shared_ptr<MOXFunctionCallMacroHandler>
MOXFunctionCallHandlers::functionCallMacroHandlerForMacro(const std::string& macroName) const {
  MutexLock lock(mu_);
  return find(macros_, macroName);
}

}  // namespace loomset
