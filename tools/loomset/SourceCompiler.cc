#include "tools/loomset/SourceCompiler.h"

#include <cstdint>
#include <limits>
#include <map>
#include <set>
#include <unordered_map>
#include <utility>

#include "loomset/Exceptions.h"
#include "loomset/MOXResourceUtil.h"
#include "loomset/Scalars.h"
#include "tools/loomset/CallWarnings.h"
#include "tools/loomset/LogCapture.h"

namespace loomset::tools {
namespace {

const std::string kFunctionKey = "function";
const std::string kInstanceNameKey = "instance_name";
const std::string kNotDefaultMacroKey = "not_default_macro";
const std::string kPushAfterEvaluateKey = "push_after_evaluate";

enum class CallKind { Macro, Predicate, Tag };

const char* kindName(CallKind kind) {
  switch (kind) {
    case CallKind::Macro:
      return "macro";
    case CallKind::Predicate:
      return "predicate";
    case CallKind::Tag:
      return "tag";
  }
  return "call";
}

[[noreturn]] void fail(const std::string& path, const std::string& message) {
  throw JsonInputError(path, message);
}

void requireObject(const Json& json, const std::string& path, const char* what) {
  if (!json.is_object())
    fail(path, std::string(what) + " must be an object, not " + describeJsonKind(json));
}

const std::string& requireString(const Json& json, const std::string& path, const char* what) {
  if (!json.is_string())
    fail(path, std::string(what) + " must be a string, not " + describeJsonKind(json));
  return json.get_ref<const std::string&>();
}

// Members of `json` must all be in `allowed`.
void requireKnownMembers(const Json& json, const std::string& path,
                         const std::set<std::string>& allowed, const char* what) {
  for (const auto& [key, member] : json.items()) {
    if (allowed.count(key) == 0) {
      std::string list;
      for (const std::string& name : allowed)
        list += (list.empty() ? "" : ", ") + ("\"" + name + "\"");
      fail(memberPath(path, key),
           std::string("unknown member of ") + what + " (expected one of " + list + ")");
    }
  }
}

class Compiler {
 public:
  CompiledSource compile(const Json& source) {
    requireObject(source, "$", "a container source");
    requireKnownMembers(
        source, "$",
        {"comment", "version", "resourceFormatVersion", "macros", "predicates", "tags", "rules"},
        "a container source");
    if (auto it = source.find("version"); it != source.end()) {
      out_.resource.set_version(requireString(*it, "$.version", "the container version"));
    }
    if (auto it = source.find("resourceFormatVersion"); it != source.end()) {
      out_.resource.set_resource_format_version(formatVersion(*it));
    }
    // Calls first, in the order macros, predicates, tags, so that rules can refer to any of them.
    section(source, "macros", CallKind::Macro);
    section(source, "predicates", CallKind::Predicate);
    section(source, "tags", CallKind::Tag);
    if (auto it = source.find("rules"); it != source.end()) {
      if (!it->is_array())
        fail("$.rules", "the rules must be an array, not " + describeJsonKind(*it));
      for (std::size_t i = 0; i < it->size(); ++i) rule((*it)[i], elementPath("$.rules", i));
    }
    warnUnused(tags_, "no rule adds this tag, so it never fires");
    warnUnused(predicates_, "no rule uses this predicate");
    checkExpands();
    return std::move(out_);
  }

 private:
  struct Compiled {
    int index;
    bool containsReferences;
  };
  struct Section {
    std::string path;                  // "$.macros"
    std::map<std::string, int> index;  // source name -> position in the resource's list
    std::vector<std::string> names;    // by position
    std::vector<bool> used;            // by position
  };

  // --- tables shared by index ---

  int internValue(const MOXPValue& value) {
    std::string bytes = value.SerializeAsString();
    auto [it, inserted] = values_.emplace(std::move(bytes), out_.resource.value_size());
    if (inserted) *out_.resource.add_value() = value;
    return it->second;
  }

  int internKey(const std::string& key) {
    auto [it, inserted] = keys_.emplace(key, out_.resource.key_size());
    if (inserted) out_.resource.add_key(key);
    return it->second;
  }

  int internProperty(const std::string& key, int valueIndex) {
    const std::pair<int, int> entry(internKey(key), valueIndex);
    auto [it, inserted] = properties_.emplace(entry, out_.resource.property_size());
    if (inserted) {
      MOXPProperty* property = out_.resource.add_property();
      property->set_key(entry.first);
      property->set_value(entry.second);
    }
    return it->second;
  }

  // --- values ---

  int stringValue(const std::string& text) {
    MOXPValue v;
    v.set_type(MOXPValue::String);
    v.set_string(text);
    return internValue(v);
  }

  int functionIdValue(const std::string& id) {
    MOXPValue v;
    v.set_type(MOXPValue::FunctionId);
    v.set_function_id(id);
    return internValue(v);
  }

  Compiled value(const Json& json, const std::string& path, std::size_t depth) {
    if (depth > MOXResourceUtil::kMaxValueNesting) {
      fail(path, "values may nest at most " + std::to_string(MOXResourceUtil::kMaxValueNesting) +
                     " levels deep");
    }
    MOXPValue v;
    switch (json.type()) {
      case Json::value_t::string:
        return {stringValue(json.get<std::string>()), false};
      case Json::value_t::boolean:
        v.set_type(MOXPValue::Boolean);
        v.set_boolean(json.get<bool>());
        return {internValue(v), false};
      case Json::value_t::number_integer:
        v.set_type(MOXPValue::Integer);
        v.set_integer(json.get<std::int64_t>());
        return {internValue(v), false};
      case Json::value_t::number_unsigned: {
        const auto u = json.get<std::uint64_t>();
        if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
          fail(path, "integer beyond the 64-bit range");
        }
        v.set_type(MOXPValue::Integer);
        v.set_integer(static_cast<std::int64_t>(u));
        return {internValue(v), false};
      }
      case Json::value_t::number_float:
        // Values have no floating kind; a floating number travels as its shortest text.
        return {stringValue(Number::float64(json.get<double>())->stringValue()), false};
      case Json::value_t::array: {
        v.set_type(MOXPValue::List);
        bool refs = false;
        auto* serving = v.MutableExtension(MOXPServingValue::ext);
        for (std::size_t i = 0; i < json.size(); ++i) {
          const Compiled item = value(json[i], elementPath(path, i), depth + 1);
          serving->add_list_item(item.index);
          refs |= item.containsReferences;
        }
        return finish(v, refs);
      }
      case Json::value_t::object:
        if (isTagged(json)) return tagged(json, path, depth);
        return plainMap(json, path, depth);
      case Json::value_t::null:
        fail(path, "null is not a value (write a string, number, boolean, array or object)");
      default:
        fail(path, "unsupported value");
    }
  }

  Compiled finish(MOXPValue& v, bool containsReferences) {
    if (containsReferences) v.set_contains_references(true);
    return {internValue(v), containsReferences};
  }

  static bool isTagged(const Json& json) {
    for (const auto& [key, member] : json.items()) {
      if (!key.empty() && key[0] == '$') return true;
    }
    return false;
  }

  Compiled plainMap(const Json& json, const std::string& path, std::size_t depth) {
    MOXPValue v;
    v.set_type(MOXPValue::Map);
    auto* serving = v.MutableExtension(MOXPServingValue::ext);
    bool refs = false;
    for (const auto& [key, member] : json.items()) {
      serving->add_map_key(stringValue(key));
      const Compiled compiled = value(member, memberPath(path, key), depth + 1);
      serving->add_map_value(compiled.index);
      refs |= compiled.containsReferences;
    }
    return finish(v, refs);
  }

  Compiled tagged(const Json& json, const std::string& path, std::size_t depth) {
    if (json.contains("$macro")) {
      requireKnownMembers(json, path, {"$macro", "$escape"}, "a macro reference");
      return macroReference(json, path, depth);
    }
    if (json.contains("$escape"))
      fail(memberPath(path, "$escape"), "escapings apply only to a \"$macro\" reference");
    if (json.size() != 1) {
      fail(path, "a tagged value has exactly one member (\"$macro\" with \"$escape\" excepted)");
    }
    const auto first = json.begin();
    const std::string tag = first.key();
    const Json& member = first.value();
    const std::string memberAt = memberPath(path, tag);
    MOXPValue v;
    if (tag == "$function") {
      const std::string& id = requireString(member, memberAt, "a function id");
      if (id.empty()) fail(memberAt, "a function id must not be empty");
      return {functionIdValue(id), false};
    }
    if (tag == "$template") {
      if (!member.is_array())
        fail(memberAt, "template tokens must be an array, not " + describeJsonKind(member));
      v.set_type(MOXPValue::Template);
      auto* serving = v.MutableExtension(MOXPServingValue::ext);
      bool refs = false;
      for (std::size_t i = 0; i < member.size(); ++i) {
        const Compiled token = value(member[i], elementPath(memberAt, i), depth + 1);
        serving->add_template_token(token.index);
        refs |= token.containsReferences;
      }
      return finish(v, refs);
    }
    if (tag == "$map") {
      if (!member.is_array())
        fail(memberAt,
             "map entries must be an array of [key, value] pairs, not " + describeJsonKind(member));
      v.set_type(MOXPValue::Map);
      auto* serving = v.MutableExtension(MOXPServingValue::ext);
      bool refs = false;
      for (std::size_t i = 0; i < member.size(); ++i) {
        const std::string entryAt = elementPath(memberAt, i);
        const Json& entry = member[i];
        if (!entry.is_array() || entry.size() != 2)
          fail(entryAt, "a map entry must be a [key, value] pair");
        const Compiled key = value(entry[0], elementPath(entryAt, 0), depth + 1);
        const Compiled val = value(entry[1], elementPath(entryAt, 1), depth + 1);
        serving->add_map_key(key.index);
        serving->add_map_value(val.index);
        refs |= key.containsReferences || val.containsReferences;
      }
      return finish(v, refs);
    }
    fail(memberAt,
         "unknown tagged value (expected \"$macro\", \"$function\", \"$template\" or \"$map\"; "
         "write a map whose keys begin with \"$\" as {\"$map\": [[key, value], ...]})");
  }

  Compiled macroReference(const Json& json, const std::string& path, std::size_t depth) {
    const std::string nameAt = memberPath(path, "$macro");
    const std::string& name = requireString(json.at("$macro"), nameAt, "a macro name");
    if (name.empty()) fail(nameAt, "a macro name must not be empty");
    // The name is a Value of its own, one level below the reference.
    if (depth + 1 > MOXResourceUtil::kMaxValueNesting) {
      fail(path, "values may nest at most " + std::to_string(MOXResourceUtil::kMaxValueNesting) +
                     " levels deep");
    }
    MOXPValue v;
    v.set_type(MOXPValue::MacroReference);
    v.MutableExtension(MOXPServingValue::ext)->set_macro_name_reference(stringValue(name));
    if (auto it = json.find("$escape"); it != json.end()) {
      const std::string escapeAt = memberPath(path, "$escape");
      if (it->is_array()) {
        for (std::size_t i = 0; i < it->size(); ++i) {
          v.add_escaping(escaping((*it)[i], elementPath(escapeAt, i)));
        }
      } else {
        v.add_escaping(escaping(*it, escapeAt));
      }
    }
    return finish(v, true);
  }

  static MOXPValue::Escaping escaping(const Json& json, const std::string& path) {
    MOXPValue::Escaping e{};
    if (json.is_string() && MOXPValue::Escaping_Parse(json.get<std::string>(), &e)) return e;
    if (json.is_number_integer() && MOXPValue::Escaping_IsValid(json.get<int>())) {
      return static_cast<MOXPValue::Escaping>(json.get<int>());
    }
    fail(path, "unknown escaping " + json.dump() +
                   " (expected a name such as \"EscapeUri\" or its number 1 to 17)");
  }

  static std::int32_t formatVersion(const Json& json) {
    if (!json.is_number_integer() ||
        json.get<std::int64_t>() < std::numeric_limits<std::int32_t>::min() ||
        json.get<std::int64_t>() > std::numeric_limits<std::int32_t>::max()) {
      fail("$.resourceFormatVersion", "the format version must be a 32-bit integer");
    }
    return static_cast<std::int32_t>(json.get<std::int64_t>());
  }

  // --- calls ---

  Section& sectionFor(CallKind kind) {
    switch (kind) {
      case CallKind::Macro:
        return macros_;
      case CallKind::Predicate:
        return predicates_;
      case CallKind::Tag:
        break;
    }
    return tags_;
  }

  void section(const Json& source, const char* member, CallKind kind) {
    Section& s = sectionFor(kind);
    s.path = memberPath("$", member);
    auto it = source.find(member);
    if (it == source.end()) return;
    requireObject(*it, s.path, (std::string("the ") + member).c_str());
    for (const auto& [name, definition] : it->items()) {
      const std::string at = memberPath(s.path, name);
      if (name.empty()) fail(at, std::string("a ") + kindName(kind) + " needs a non-empty name");
      MOXPFunctionCall compiled = call(definition, name, at, kind);
      auto* list = kind == CallKind::Macro       ? out_.resource.mutable_macro()
                   : kind == CallKind::Predicate ? out_.resource.mutable_predicate()
                                                 : out_.resource.mutable_tag();
      s.index.emplace(name, list->size());
      s.names.push_back(name);
      s.used.push_back(false);
      *list->Add() = std::move(compiled);
    }
  }

  MOXPFunctionCall call(const Json& definition, const std::string& name, const std::string& path,
                        CallKind kind) {
    const std::string what = std::string("a ") + kindName(kind);
    requireObject(definition, path, what.c_str());
    if (kind == CallKind::Macro) {
      requireKnownMembers(
          definition, path,
          {"comment", "function", "properties", "name", kNotDefaultMacroKey, kPushAfterEvaluateKey},
          what.c_str());
    } else {
      requireKnownMembers(definition, path, {"comment", "function", "properties"}, what.c_str());
    }

    auto function = definition.find("function");
    if (function == definition.end())
      fail(path, what + " needs a \"function\" member naming its implementation");
    const std::string functionAt = memberPath(path, "function");
    const std::string& functionId = requireString(*function, functionAt, "the function id");
    if (functionId.empty()) fail(functionAt, "the function id must not be empty");

    std::string instanceName = name;
    if (auto it = definition.find("name"); it != definition.end()) {
      instanceName = requireString(*it, memberPath(path, "name"), "a macro's name");
      if (instanceName.empty()) fail(memberPath(path, "name"), "a macro's name must not be empty");
    }

    MOXPFunctionCall call;
    const int functionValue = functionIdValue(functionId);
    call.set_function(functionValue);
    call.add_property(internProperty(kFunctionKey, functionValue));
    call.add_property(internProperty(kInstanceNameKey, stringValue(instanceName)));

    if (auto it = definition.find("properties"); it != definition.end()) {
      const std::string propertiesAt = memberPath(path, "properties");
      requireObject(*it, propertiesAt, "the properties");
      for (const auto& [key, member] : it->items()) {
        const std::string at = memberPath(propertiesAt, key);
        if (key == kFunctionKey)
          fail(at, "set the implementation with the call's \"function\" member");
        if (key == kInstanceNameKey)
          fail(at, "the call's name is its instance name; macros may set \"name\"");
        if (key == kNotDefaultMacroKey || key == kPushAfterEvaluateKey) {
          fail(at, kind == CallKind::Macro ? "write \"" + key + "\" as a member of the macro itself"
                                           : "only macros take \"" + key + "\"");
        }
        call.add_property(internProperty(key, value(member, at, 1).index));
      }
    }
    for (const std::string& key : {kNotDefaultMacroKey, kPushAfterEvaluateKey}) {
      if (auto it = definition.find(key); it != definition.end()) {
        call.add_property(internProperty(key, value(*it, memberPath(path, key), 1).index));
      }
    }
    checkAgainstLibrary(call, kind, functionId, path);
    return call;
  }

  void checkAgainstLibrary(const MOXPFunctionCall& call, CallKind kind,
                           const std::string& functionId, const std::string& path) {
    std::vector<std::string> keys;
    for (int property : call.property()) {
      keys.push_back(out_.resource.key(out_.resource.property(property).key()));
    }
    const MOXCallRole role = kind == CallKind::Macro       ? MOXCallRole::kMacro
                             : kind == CallKind::Predicate ? MOXCallRole::kPredicate
                                                           : MOXCallRole::kTag;
    for (std::string& warning : callWarnings(path, role, functionId, keys)) {
      out_.callWarnings.push_back(std::move(warning));
    }
  }

  // --- rules ---

  void rule(const Json& json, const std::string& path) {
    requireObject(json, path, "a rule");
    requireKnownMembers(
        json, path,
        {"comment", "if", "unless", "addTags", "removeTags", "addMacros", "removeMacros"},
        "a rule");
    MOXPRule* rule = out_.resource.add_rule();
    for (const auto& [key, member] : json.items()) {
      if (key == "comment") continue;
      const std::string at = memberPath(path, key);
      CallKind kind = CallKind::Tag;
      google::protobuf::RepeatedField<std::int32_t>* into = nullptr;
      if (key == "if") {
        kind = CallKind::Predicate;
        into = rule->mutable_positive_predicate();
      } else if (key == "unless") {
        kind = CallKind::Predicate;
        into = rule->mutable_negative_predicate();
      } else if (key == "addTags") {
        into = rule->mutable_add_tag();
      } else if (key == "removeTags") {
        into = rule->mutable_remove_tag();
      } else if (key == "addMacros") {
        kind = CallKind::Macro;
        into = rule->mutable_add_macro();
      } else {
        kind = CallKind::Macro;
        into = rule->mutable_remove_macro();
      }
      if (member.is_string()) {
        into->Add(reference(member, at, kind));
      } else if (member.is_array()) {
        for (std::size_t i = 0; i < member.size(); ++i) {
          into->Add(reference(member[i], elementPath(at, i), kind));
        }
      } else {
        fail(at, "must be a name or an array of names, not " + describeJsonKind(member));
      }
    }
  }

  int reference(const Json& json, const std::string& path, CallKind kind) {
    const std::string what = std::string("a ") + kindName(kind) + " name";
    const std::string& name = requireString(json, path, what.c_str());
    Section& s = sectionFor(kind);
    auto it = s.index.find(name);
    if (it == s.index.end()) {
      fail(path, std::string("unknown ") + kindName(kind) + " \"" + name + "\" (not defined in " +
                     s.path + ")");
    }
    s.used[static_cast<std::size_t>(it->second)] = true;
    return it->second;
  }

  void warnUnused(const Section& s, const std::string& text) {
    for (std::size_t i = 0; i < s.names.size(); ++i) {
      if (!s.used[i]) out_.warnings.push_back(memberPath(s.path, s.names[i]) + ": " + text);
    }
  }

  // The compiled resource must expand as a container would; anything the checks above missed
  // (such as a Value tree too large to evaluate) is reported here rather than on the device.
  void checkExpands() {
    ScopedLogCapture capture;
    try {
      MOXResourceUtil::expandResource(out_.resource);
    } catch (const InvalidResourceException& e) {
      fail("$", "the compiled resource is invalid: " + capture.lastError(e.reason()));
    }
  }

  CompiledSource out_;
  std::unordered_map<std::string, int> values_;
  std::unordered_map<std::string, int> keys_;
  std::map<std::pair<int, int>, int> properties_;
  Section macros_, predicates_, tags_;
};

}  // namespace

CompiledSource compileContainerSource(const Json& source) {
  return Compiler().compile(source);
}

CompiledSource compileContainerSourceText(std::string_view text) {
  return compileContainerSource(parseStrictJson(text));
}

}  // namespace loomset::tools
