#include "tools/loomset/ValueJson.h"

#include <algorithm>
#include <set>
#include <string>

namespace loomset::tools {
namespace {

// Expanded Values nest at most MOXResourceUtil::kMaxValueNesting levels; the guard only keeps a
// hand-built tree from exhausting the stack.
constexpr int kMaxDepth = 512;

Json toJson(const MOXPValue& value, int depth);

Json items(const google::protobuf::RepeatedPtrField<MOXPValue>& list, int depth) {
  Json out = Json::array();
  for (const MOXPValue& item : list) out.push_back(toJson(item, depth + 1));
  return out;
}

// A map can be written as a plain object when every key is a text that does not look like a tag
// and no key repeats; otherwise it needs the explicit entry list.
bool isPlainMap(const MOXPValue& value) {
  if (value.map_key_size() != value.map_value_size()) return false;
  std::set<std::string> seen;
  for (const MOXPValue& key : value.map_key()) {
    if (key.type() != MOXPValue::String) return false;
    if (!key.string().empty() && key.string()[0] == '$') return false;
    if (!seen.insert(key.string()).second) return false;
  }
  return true;
}

Json toJson(const MOXPValue& value, int depth) {
  if (depth > kMaxDepth) return "...";
  switch (value.type()) {
    case MOXPValue::String:
      return value.string();
    case MOXPValue::Integer:
      return value.integer();
    case MOXPValue::Boolean:
      return value.boolean();
    case MOXPValue::FunctionId:
      return Json{{"$function", value.function_id()}};
    case MOXPValue::List:
      return items(value.list_item(), depth);
    case MOXPValue::Template:
      return Json{{"$template", items(value.template_token(), depth)}};
    case MOXPValue::MacroReference: {
      Json out = Json::object();
      out["$macro"] = value.macro_reference();
      if (value.escaping_size() > 0) {
        Json escapes = Json::array();
        for (int e : value.escaping()) {
          escapes.push_back(
              MOXPValue::Escaping_IsValid(e)
                  ? Json(MOXPValue::Escaping_Name(static_cast<MOXPValue::Escaping>(e)))
                  : Json(e));
        }
        out["$escape"] = std::move(escapes);
      }
      return out;
    }
    case MOXPValue::Map: {
      if (isPlainMap(value)) {
        Json out = Json::object();
        for (int i = 0; i < value.map_key_size(); ++i) {
          out[value.map_key(i).string()] = toJson(value.map_value(i), depth + 1);
        }
        return out;
      }
      Json entries = Json::array();
      const int n = std::max(value.map_key_size(), value.map_value_size());
      for (int i = 0; i < n; ++i) {
        entries.push_back(Json::array(
            {i < value.map_key_size() ? toJson(value.map_key(i), depth + 1) : Json(nullptr),
             i < value.map_value_size() ? toJson(value.map_value(i), depth + 1) : Json(nullptr)}));
      }
      return Json{{"$map", std::move(entries)}};
    }
    case MOXPValue::TagReference:
      return Json{{"$tagReference", value.tag_reference()}};
  }
  return Json{{"$unknownKind", static_cast<int>(value.type())}};
}

}  // namespace

Json valueToSourceJson(const MOXPValue& value) {
  return toJson(value, 0);
}

}  // namespace loomset::tools
