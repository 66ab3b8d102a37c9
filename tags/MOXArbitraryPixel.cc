#include "tags/MOXArbitraryPixel.h"

#include <optional>
#include <set>
#include <utility>

#include "Library/Util/platform/Mutex.h"
#include "Library/Util/platform/NoDestructor.h"
#include "foundation/MOXPropertyListUtil.h"
#include "loomset/Collections.h"
#include "loomset/MOXLog.h"
#include "loomset/MOXTypes.h"
#include "loomset/Objects.h"
#include "tags/MOXDispatcher.h"
#include "values/MOXValueEscapeUtil.h"

namespace loomset {
namespace {

constexpr char kUnrepeatableKey[] = "unrepeatable";
constexpr char kAdditionalParamsKey[] = "additional_params";

struct Unrepeatable {
  Mutex mu;
  std::set<std::string> ids GUARDED_BY(mu);
  bool loaded GUARDED_BY(mu) = false;
};

Unrepeatable& unrepeatable() {
  static NoDestructor<Unrepeatable> instance;
  return *instance;
}

// Reads the ids of earlier runs once, so that the whole file is written back with the new one.
void loadLocked(Unrepeatable& u) REQUIRES(u.mu) {
  if (u.loaded) return;
  u.loaded = true;
  const ObjectPtr saved =
      MOXPropertyListUtil::readPropertyList(MOXArbitraryPixel::kUnrepeatableFile);
  if (const Dictionary* map = asDictionary(saved)) {
    for (const auto& [key, value] : map->entries()) {
      if (const String* id = asString(key)) u.ids.insert(id->text());
    }
  }
}

std::string textOf(const ObjectPtr& object) {
  return MOXTypes::objectToString(object)->text();
}

// The URL with the parameters appended, or nothing (with the warning) when they are malformed.
std::optional<std::string> withAdditionalParams(std::string url, const ValuePtr& params) {
  const ObjectPtr object = MOXTypes::valueToObject(params);
  const Array* list = asArray(object);
  if (!list) {
    MOXLog::warning("ArbitraryPixel: additional params not a list: not sending partial hit: " +
                    url);
    return std::nullopt;
  }
  std::string pairs;
  for (const ObjectPtr& item : list->items()) {
    const Dictionary* map = asDictionary(item);
    if (!map) {
      MOXLog::warning(
          "ArbitraryPixel: additional params contains non-map: not sending partial hit: " + url);
      return std::nullopt;
    }
    for (const auto& [key, value] : map->entries()) {
      if (!pairs.empty()) pairs += "&";
      pairs += MOXValueEscapeUtil::urlEncode(textOf(key)) + "=" +
               MOXValueEscapeUtil::urlEncode(textOf(value));
    }
  }
  const char separator = url.find('?') == std::string::npos ? '?' : '&';
  return url + separator + pairs;
}

}  // namespace

const std::string& MOXArbitraryPixel::functionId() {
  static const std::string id = "_img";
  return id;
}

const std::string& MOXArbitraryPixel::urlKey() {
  static const std::string key = "url";
  return key;
}

MOXArbitraryPixel::MOXArbitraryPixel() : MOXTrackingTag(functionId(), {urlKey()}) {}

bool MOXArbitraryPixel::idProcessed(const std::string& id) {
  Unrepeatable& u = unrepeatable();
  MutexLock lock(u.mu);
  loadLocked(u);
  return u.ids.count(id) != 0;
}

void MOXArbitraryPixel::cacheUnrepeatableId(const std::string& id) {
  std::shared_ptr<Dictionary> file = Dictionary::create();
  Unrepeatable& u = unrepeatable();
  MutexLock lock(u.mu);
  loadLocked(u);
  u.ids.insert(id);
  for (const std::string& known : u.ids) file->setObject(obj::str("true"), known);
  // Under the lock, so that writes reach the file in the order the set grew.
  MOXPropertyListUtil::writePropertyListAsync(kUnrepeatableFile, file);
}

void MOXArbitraryPixel::clearCache() {
  Unrepeatable& u = unrepeatable();
  MutexLock lock(u.mu);
  u.ids.clear();
  u.loaded = false;
}

void MOXArbitraryPixel::evaluateTrackingTag(const MOXParameterMap& parameters) {
  std::optional<std::string> unrepeatableId;
  if (const ValuePtr id = parameters.get(kUnrepeatableKey)) {
    const auto text = MOXTypes::valueToString(id);
    if (text != MOXTypes::defaultString()) {
      if (idProcessed(text->text())) return;
      unrepeatableId = text->text();
    }
  }
  std::string url = MOXTypes::valueToString(parameters.get(urlKey()))->text();
  if (const ValuePtr params = parameters.get(kAdditionalParamsKey)) {
    auto extended = withAdditionalParams(std::move(url), params);
    if (!extended) return;
    url = std::move(*extended);
  }
  MOXDispatcher::instance()->sendHitToUrl(url);
  if (unrepeatableId) cacheUnrepeatableId(*unrepeatableId);
}

}  // namespace loomset
