#include "datalayer/Merge.h"

#include <string>
#include <string_view>
#include <vector>

#include "datalayer/KeyPath.h"
#include "loomset/MOXDataLayer.h"
#include "loomset/MOXLog.h"
#include "loomset/Objects.h"

namespace loomset {

const ObjectPtr& kMOXDataLayerObjectNotPresent() {
  static const ObjectPtr marker = std::make_shared<Marker>("MOXDataLayerObjectNotPresent");
  return marker;
}

namespace datalayer {
namespace {

constexpr int kMaxDepth = MOXDataLayer::kMaxNestingDepth;

ObjectPtr mergedList(const ObjectPtr& existing, const Array& source, int depth) {
  const Array* old = asArray(existing);
  auto dest = old ? Array::create(old->items()) : Array::create();
  while (dest->count() < source.count()) dest->addObject(Null::null());
  const ObjectPtr& notPresent = kMOXDataLayerObjectNotPresent();
  for (std::size_t i = 0; i < source.count(); ++i) {
    const ObjectPtr& item = source.objectAtIndex(i);
    if (!item || item == notPresent) continue;
    ObjectPtr merged = mergedInto(dest->objectAtIndex(i), item, depth + 1);
    if (!merged) return nullptr;
    dest->replaceObjectAtIndex(i, std::move(merged));
  }
  return dest;
}

ObjectPtr mergedMap(const ObjectPtr& existing, const Dictionary& source, int depth) {
  const Dictionary* old = asDictionary(existing);
  auto dest = old ? old->copy() : Dictionary::create();
  for (const auto& [key, value] : source.entries()) {
    ObjectPtr merged = mergedInto(dest->objectForKey(key), value, depth + 1);
    if (!merged) return nullptr;
    dest->setObject(std::move(merged), key);
  }
  return dest;
}

// The chain of maps that expanding the path components from `next` on would build, merged over
// `existing`. The value sits as deep as the path is long.
ObjectPtr mergedAlongPath(const ObjectPtr& existing, const std::vector<std::string_view>& path,
                          std::size_t next, const ObjectPtr& value) {
  if (next == path.size()) return mergedInto(existing, value, static_cast<int>(path.size()));
  const Dictionary* old = asDictionary(existing);
  auto dest = old ? old->copy() : Dictionary::create();
  ObjectPtr merged = mergedAlongPath(dest->objectForKey(path[next]), path, next + 1, value);
  if (!merged) return nullptr;
  dest->setObject(std::move(merged), path[next]);
  return dest;
}

}  // namespace

ObjectPtr mergedInto(const ObjectPtr& existing, const ObjectPtr& source, int depth) {
  switch (source->kind()) {
    case ObjectKind::Array:
      if (depth > kMaxDepth) return nullptr;
      return mergedList(existing, static_cast<const Array&>(*source), depth);
    case ObjectKind::Dictionary:
      if (depth > kMaxDepth) return nullptr;
      return mergedMap(existing, static_cast<const Dictionary&>(*source), depth);
    default:
      return source;
  }
}

bool mergeTopLevelEntry(Dictionary& model, const ObjectPtr& key, const ObjectPtr& value) {
  if (!key || !value) return true;
  const String* keyString = asString(key);
  const std::string described = keyString ? std::string() : describe(key);
  const std::string_view keyText = keyString ? std::string_view(keyString->text()) : described;

  if (keyText.find('.') == std::string_view::npos) {
    // The common case: the update's own key object can be stored as it is.
    if (ObjectPtr merged = mergedInto(model.objectForKey(keyText), value, 1)) {
      if (keyString) {
        model.setObject(std::move(merged), key);
      } else {
        model.setObject(std::move(merged), keyText);
      }
      return true;
    }
  } else if (keypath::componentCount(keyText) <= static_cast<std::size_t>(kMaxDepth)) {
    const auto path = keypath::split(keyText);
    if (ObjectPtr merged = mergedAlongPath(model.objectForKey(path[0]), path, 1, value)) {
      model.setObject(std::move(merged), path[0]);
      return true;
    }
  }
  {
    MOXLog::error("Data layer update nested deeper than " + std::to_string(kMaxDepth) +
                  " levels; not merged: " + std::string(keyText.substr(0, 80)));
    return false;
  }
}

}  // namespace datalayer
}  // namespace loomset
