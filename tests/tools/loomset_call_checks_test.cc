// `loomset compile` and `loomset inspect` check calls against the library's table of
// implementations, and what they flag is what the runtime refuses.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/TempDir.h"
#include "tools/ToolProcess.h"

namespace loomset::testing {
namespace {

const char kBroken[] = R"({
  "macros": {
    "mystery": {"function": "_zz"},
    "screen": {"function": "_v"},
    "write": {"function": "_dlw", "properties": {"value": {"a": 1}}},
    "fine": {"function": "_c", "properties": {"value": "ok"}}
  },
  "predicates": {"same": {"function": "_eq", "properties": {"arg0": "x"}}},
  "tags": {"record": {"function": "_dlw"}},
  "rules": [{"if": ["same"], "addTags": ["record"]}]
})";

class LoomsetCallChecks : public ::testing::Test {
 protected:
  ToolResult compile(const std::string& source, std::vector<std::string> options = {}) {
    writeFile(dir.file("broken.json"), source);
    std::filesystem::remove(dir.file("out.bin"));
    std::vector<std::string> args{"compile", dir.file("broken.json"), "-o", dir.file("out.bin")};
    args.insert(args.end(), options.begin(), options.end());
    return runTool(args);
  }
  std::string prefix(const char* kind) {
    return "loomset compile: " + std::string(kind) + ": " + dir.file("broken.json") + ": ";
  }

  TempDir dir;
};

TEST_F(LoomsetCallChecks, CompileWarnsAboutCallsTheLibraryCannotRunByJsonPath) {
  const ToolResult result = compile(kBroken);
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_TRUE(std::filesystem::exists(dir.file("out.bin")));
  const std::string w = prefix("warning");
  EXPECT_EQ(result.err,
            w + "$.macros.mystery.function: no macro implementation has the function id \"_zz\"\n" +
                w + "$.macros.screen: the \"_v\" macro needs the property \"name\"\n" + w +
                "$.macros.write.function: no macro implementation has the function id \"_dlw\" "
                "(a tag implementation has it)\n" +
                w + "$.predicates.same: the \"_eq\" predicate needs the property \"arg1\"\n" + w +
                "$.tags.record: the \"_dlw\" tag needs the property \"value\"\n");
}

TEST_F(LoomsetCallChecks, StrictMakesThemErrorsAndWritesNothing) {
  const ToolResult result = compile(kBroken, {"--strict"});
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_FALSE(std::filesystem::exists(dir.file("out.bin")));
  EXPECT_NE(result.err.find(prefix("error") + "$.macros.mystery.function: no macro"),
            std::string::npos)
      << result.err;
  EXPECT_EQ(result.err.find("warning"), std::string::npos) << result.err;

  // A source the library can run compiles under --strict; other warnings stay warnings.
  const ToolResult clean = compile(
      R"({"macros": {"fine": {"function": "_c", "properties": {"value": "ok"}}},
          "tags": {"unused": {"function": "_dlw", "properties": {"value": {"a": 1}}}}})",
      {"--strict"});
  EXPECT_EQ(clean.exitCode, 0) << clean.err;
  EXPECT_EQ(clean.err,
            prefix("warning") + "$.tags.unused: no rule adds this tag, so it never fires\n");
}

TEST_F(LoomsetCallChecks, TheShopExampleHasNothingToFlag) {
  const ToolResult result =
      runTool({"compile", exampleSource("shop.json"), "-o", dir.file("shop.bin"), "--strict"});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.err, "");
}

TEST_F(LoomsetCallChecks, InspectFlagsTheSameCallsByLabel) {
  ASSERT_EQ(compile(kBroken).exitCode, 0);
  const ToolResult result = runTool({"inspect", dir.file("out.bin")});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  const std::string expected =
      "\n# Call warnings\n"
      "macros.mystery.function: no macro implementation has the function id \"_zz\"\n"
      "macros.screen: the \"_v\" macro needs the property \"name\"\n"
      "macros.write.function: no macro implementation has the function id \"_dlw\" (a tag "
      "implementation has it)\n"
      "predicates.same: the \"_eq\" predicate needs the property \"arg1\"\n"
      "tags.record: the \"_dlw\" tag needs the property \"value\"\n";
  ASSERT_GE(result.out.size(), expected.size());
  EXPECT_EQ(result.out.substr(result.out.size() - expected.size()), expected) << result.out;
  EXPECT_NE(result.err.find("loomset inspect: warning: " + dir.file("out.bin") +
                            ": macros.screen: the \"_v\" macro needs the property \"name\"\n"),
            std::string::npos)
      << result.err;

  // A model without such calls prints no such section.
  ASSERT_EQ(runTool({"compile", exampleSource("shop.json"), "-o", dir.file("shop.bin")}).exitCode,
            0);
  const ToolResult shop = runTool({"inspect", dir.file("shop.bin")});
  EXPECT_EQ(shop.out.find("# Call warnings"), std::string::npos);
  EXPECT_EQ(shop.err, "");
}

TEST_F(LoomsetCallChecks, WhatTheCompilerFlagsTheRuntimeRefuses) {
  ASSERT_EQ(compile(kBroken).exitCode, 0);
  writeFile(dir.file("steps.jsonl"),
            "{\"get\": \"mystery\"}\n{\"get\": \"screen\"}\n{\"get\": \"fine\"}\n");
  const ToolResult result =
      runTool({"run", dir.file("out.bin"), "--steps", dir.file("steps.jsonl")});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_NE(result.err.find("_zz has no backing implementation."), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("Incorrect keys for function _v required {(name)}"), std::string::npos)
      << result.err;
  const auto lines = jsonLines(result.out);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[2]["value"], "ok");
}

TEST_F(LoomsetCallChecks, HelpShowsTheWarningFormat) {
  const ToolResult result = runTool({"compile", "--help"});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_NE(result.out.find("usage: loomset compile SOURCE -o OUT [--strict]"), std::string::npos);
  EXPECT_NE(result.out.find("PATH.function: no ROLE implementation has the function id \"ID\""),
            std::string::npos)
      << result.out;
}

}  // namespace
}  // namespace loomset::testing
