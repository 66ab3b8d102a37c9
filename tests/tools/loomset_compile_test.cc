#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "loomset/proto/serving.pb.h"
#include "support/TempDir.h"
#include "tools/ToolProcess.h"

namespace loomset::testing {
namespace {

using Json = nlohmann::ordered_json;

class LoomsetCompile : public ::testing::Test {
 protected:
  // Compiles `source` text; the resource is parsed when the tool succeeded.
  ToolResult compile(const std::string& source, MOXPResource* resource = nullptr) {
    writeFile(dir.file("source.json"), source);
    std::filesystem::remove(dir.file("out.bin"));
    ToolResult result = runTool({"compile", dir.file("source.json"), "-o", dir.file("out.bin")});
    if (resource && result.exitCode == 0) {
      EXPECT_TRUE(resource->ParseFromString(readFile(dir.file("out.bin"))));
    }
    return result;
  }

  TempDir dir;
};

// Whether the serving value at `index` holds a macro reference at any depth.
bool refersToMacros(const MOXPResource& resource, int index) {
  const MOXPValue& value = resource.value(index);
  if (value.type() == MOXPValue::MacroReference) return true;
  const MOXPServingValue& serving = value.GetExtension(MOXPServingValue::ext);
  for (const auto* children : {&serving.list_item(), &serving.map_key(), &serving.map_value(),
                               &serving.template_token()}) {
    for (int child : *children) {
      if (refersToMacros(resource, child)) return true;
    }
  }
  return false;
}

TEST_F(LoomsetCompile, SharesIdenticalValuesAndMarksExactlyTheValuesWithReferences) {
  MOXPResource resource;
  const ToolResult result = compile(readFile(exampleSource("shop.json")), &resource);
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(resource.version(), "7");
  EXPECT_EQ(resource.resource_format_version(), 1);
  EXPECT_EQ(resource.macro_size(), 16);
  EXPECT_EQ(resource.predicate_size(), 3);
  EXPECT_EQ(resource.tag_size(), 2);
  EXPECT_EQ(resource.rule_size(), 3);

  std::set<std::string> values, keys;
  int withReferences = 0;
  for (int i = 0; i < resource.value_size(); ++i) {
    EXPECT_TRUE(values.insert(resource.value(i).SerializeAsString()).second)
        << "value " << i << " is stored twice";
    const bool expected = refersToMacros(resource, i);
    EXPECT_EQ(resource.value(i).contains_references(), expected) << "value " << i;
    withReferences += expected;
  }
  EXPECT_GT(withReferences, 10);
  for (const std::string& key : resource.key()) {
    EXPECT_TRUE(keys.insert(key).second) << "key " << key << " is stored twice";
  }
  std::set<std::pair<int, int>> properties;
  for (const MOXPProperty& p : resource.property()) {
    EXPECT_TRUE(properties.insert({p.key(), p.value()}).second);
  }
  // "_c" is named by one Value that every constant macro shares.
  int constantIds = 0;
  for (const MOXPValue& v : resource.value()) {
    constantIds += v.type() == MOXPValue::FunctionId && v.function_id() == "_c";
  }
  EXPECT_EQ(constantIds, 1);
}

TEST_F(LoomsetCompile, RejectsMalformedSourcesNamingTheJsonPath) {
  const std::string call = R"({"function": "_c", "properties": {"value": 1}})";
  struct Case {
    std::string source;
    std::string expected;  // in standard error
  };
  const std::vector<Case> cases = {
      {R"({"macros": })", "line 1, column 12"},
      {"[]", "$: a container source must be an object"},
      {R"({"macro": {}})", "$.macro: unknown member of a container source"},
      {R"({"macros": {"a": )" + call + R"(, "a": )" + call + "}}", "$.macros.a: duplicate member"},
      {R"({"macros": []})", "$.macros: the macros must be an object"},
      {R"({"macros": {"m": {"properties": {}}}})", "$.macros.m: a macro needs a \"function\""},
      {R"({"macros": {"my m": {"function": 5}}})",
       "$.macros[\"my m\"].function: the function id must be a string"},
      {R"({"macros": {"m": {"function": "_c", "properties": {"value": null}}}})",
       "$.macros.m.properties.value: null is not a value"},
      {R"({"macros": {"m": {"function": "_c", "properties": {"value": [1, [2, null]]}}}})",
       "$.macros.m.properties.value[1][1]: null is not a value"},
      {R"({"macros": {"m": {"function": "_c", "properties": {"value": {"$macr": "x"}}}}})",
       "$.macros.m.properties.value[\"$macr\"]: unknown tagged value"},
      {R"({"macros": {"m": {"function": "_c", "properties": {"value": {"$macro": "x", "$escape": ["EscapeUri", "Nope"]}}}}})",
       "$.macros.m.properties.value[\"$escape\"][1]: unknown escaping \"Nope\""},
      {R"({"macros": {"m": {"function": "_c", "properties": {"value": {"$macro": ""}}}}})",
       "$.macros.m.properties.value[\"$macro\"]: a macro name must not be empty"},
      {R"({"macros": {"m": {"function": "_c", "properties": {"value": {"$function": "_c", "$escape": 12}}}}})",
       "$.macros.m.properties.value[\"$escape\"]: escapings apply only to a \"$macro\" reference"},
      {R"({"macros": {"m": {"function": "_c", "properties": {"value": {"$map": [[1, 2, 3]]}}}}})",
       "$.macros.m.properties.value[\"$map\"][0]: a map entry must be a [key, value] pair"},
      {R"({"macros": {"m": {"function": "_c", "properties": {"value": 18446744073709551615}}}})",
       "$.macros.m.properties.value: integer beyond the 64-bit range"},
      {R"({"macros": {"m": {"function": "_c", "properties": {"instance_name": "x"}}}})",
       "$.macros.m.properties.instance_name:"},
      {R"({"macros": {"m": {"function": "_c", "properties": {"push_after_evaluate": {}}}}})",
       "$.macros.m.properties.push_after_evaluate: write \"push_after_evaluate\" as a member"},
      {R"({"tags": {"t": {"function": "_dlw", "push_after_evaluate": {}}}})",
       "$.tags.t.push_after_evaluate: unknown member of a tag"},
      {R"({"predicates": {"p": )" + call + R"(}, "rules": [{"if": ["p", "q"]}]})",
       "$.rules[0].if[1]: unknown predicate \"q\""},
      {R"({"macros": {"m": )" + call + R"(}, "rules": [{"addTags": "m"}]})",
       "$.rules[0].addTags: unknown tag \"m\""},
      {R"({"rules": [{"add": []}]})", "$.rules[0].add: unknown member of a rule"},
      {R"({"rules": [{"if": 3}]})", "$.rules[0].if: must be a name or an array of names"},
      {R"({"resourceFormatVersion": 4294967296})",
       "$.resourceFormatVersion: the format version must be a 32-bit integer"},
      {R"({"version": 7})", "$.version: the container version must be a string"},
      {R"({"macros": {"m": {"function": "_c", "properties": {"value": )" + std::string(101, '[') +
           std::string(101, ']') + "}}}}",
       "levels deep"},
  };
  for (const Case& c : cases) {
    const ToolResult result = compile(c.source);
    EXPECT_EQ(result.exitCode, 2) << c.source;
    EXPECT_NE(result.err.find(c.expected), std::string::npos)
        << "source: " << c.source << "\nstderr: " << result.err;
    EXPECT_FALSE(std::filesystem::exists(dir.file("out.bin"))) << c.source;
  }
}

TEST_F(LoomsetCompile, WarnsAboutCallsNoRuleReachesAndRejectsBadCommandLines) {
  const ToolResult warned = compile(R"({
      "predicates": {"p": {"function": "_eq", "properties": {"arg0": 1, "arg1": 1}}},
      "tags": {"t": {"function": "_dlw"}}})");
  EXPECT_EQ(warned.exitCode, 0);
  EXPECT_NE(warned.err.find("warning: " + dir.file("source.json") +
                            ": $.tags.t: no rule adds this tag, so it never fires"),
            std::string::npos)
      << warned.err;
  EXPECT_NE(warned.err.find("$.predicates.p: no rule uses this predicate"), std::string::npos);

  EXPECT_EQ(runTool({"compile", dir.file("source.json")}).exitCode, 1);
  EXPECT_EQ(runTool({"compile", "-o", dir.file("x")}).exitCode, 1);
  EXPECT_EQ(runTool({"compile", dir.file("source.json"), "-o", dir.file("x"), "--fast"}).exitCode,
            1);
  const ToolResult missing = runTool({"compile", dir.file("absent.json"), "-o", dir.file("x")});
  EXPECT_EQ(missing.exitCode, 2);
  EXPECT_NE(missing.err.find("cannot open"), std::string::npos);
  EXPECT_EQ(runTool({"frobnicate"}).exitCode, 1);
  EXPECT_EQ(runTool({}).exitCode, 1);
  const ToolResult help = runTool({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("loomset run CONTAINER"), std::string::npos);
}

}  // namespace
}  // namespace loomset::testing
