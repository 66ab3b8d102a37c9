#include <gtest/gtest.h>

#include <string>

#include "loomset/proto/resource_with_metadata.pb.h"
#include "loomset/proto/serving.pb.h"
#include "support/TempDir.h"
#include "tools/ToolProcess.h"

namespace loomset::testing {
namespace {

class LoomsetInspect : public ::testing::Test {
 protected:
  void SetUp() override {
    const ToolResult compiled =
        runTool({"compile", exampleSource("shop.json"), "-o", dir.file("shop.bin")});
    ASSERT_EQ(compiled.exitCode, 0) << compiled.err;
    ASSERT_TRUE(resource.ParseFromString(readFile(dir.file("shop.bin"))));
  }

  std::string write(const std::string& name, const google::protobuf::Message& message) {
    writeFile(dir.file(name), message.SerializePartialAsString());
    return dir.file(name);
  }

  TempDir dir;
  MOXPResource resource;
};

TEST_F(LoomsetInspect, PrintsTheTextFormThenTheModelByInstanceName) {
  const ToolResult result = runTool({"inspect", dir.file("shop.bin")});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  const std::string& out = result.out;
  const auto model = out.find("\n# Expanded model\n");
  ASSERT_EQ(out.rfind("# MOXPResource\n", 0), 0u) << out;
  ASSERT_NE(model, std::string::npos) << out;
  // The text form comes first and shows the wire tables, extension included.
  EXPECT_LT(out.find("key: \"function\""), model);
  EXPECT_LT(out.find("[loomset.MOXPServingValue.ext]"), model);

  for (const std::string& expected : {
           std::string("version: \"7\"\nresourceFormatVersion: 1\n"),
           // The name "color" has two calls; lookups fall back to the one not flagged.
           std::string("  color\n    color#0 [default]: "),
           std::string("\n    color#1: {\"function\":{\"$function\":\"_c\"},\"instance_name\":"
                       "\"color\",\"value\":\"red\",\"not_default_macro\":true}\n"),
           std::string("\"value\":{\"$template\":[\"https://shop.example/search?q=\",{\"$macro\":"
                       "\"userName\",\"$escape\":[\"EscapeUri\"]}]}"),
           std::string("\"value\":{\"$map\":[[1,\"first\"],[2,\"second\"]]}"),
           std::string("        push_after_evaluate: {\"visit\":{\"counted\":true}}\n"),
           std::string("  rule 1\n    if: isPurchase bigOrder\n    addTags: notifyBigOrder\n"),
           std::string("  rule 2\n    if: onSaleScreen\n    addMacros: color#1\n"),
           std::string("tags:\n  recordPurchase: "),
       }) {
    EXPECT_NE(out.find(expected, model), std::string::npos) << "missing: " << expected << "\n"
                                                            << out;
  }
}

TEST_F(LoomsetInspect, ReadsServerResponsesAndSavedFiles) {
  MOXPLegacyRawProtoSupplementedResource response;
  *response.mutable_resource() = resource;
  response.set_fingerprint("fp-1");
  response.add_supplemental()->set_name("other");
  const ToolResult supplemented =
      runTool({"inspect", write("response.bin", response), "--as", "supplemented"});
  ASSERT_EQ(supplemented.exitCode, 0) << supplemented.err;
  EXPECT_EQ(supplemented.out.rfind("# MOXPLegacyRawProtoSupplementedResource\n", 0), 0u);
  EXPECT_NE(supplemented.out.find("fingerprint: \"fp-1\""), std::string::npos);
  EXPECT_NE(supplemented.out.find("greeting [default]"), std::string::npos);

  // A response without a resource is valid: the container has not changed.
  MOXPLegacyRawProtoSupplementedResource unchanged;
  unchanged.set_fingerprint("fp-1");
  const ToolResult empty =
      runTool({"inspect", write("unchanged.bin", unchanged), "--as=supplemented"});
  EXPECT_EQ(empty.exitCode, 0);
  EXPECT_NE(empty.out.find("# Expanded model\n(no resource)\n"), std::string::npos);

  // As the container writes it: the real resource inside the supplemented one.
  MOXPResourceWithMetadata saved;
  saved.set_time_stamp(1700000000000);
  saved.mutable_resource();
  *saved.mutable_supplemented_resource() = response;
  const ToolResult fromDisk = runTool({"inspect", write("saved.bin", saved), "--as", "saved"});
  ASSERT_EQ(fromDisk.exitCode, 0) << fromDisk.err;
  EXPECT_NE(fromDisk.out.find("time_stamp: 1700000000000"), std::string::npos);
  EXPECT_NE(fromDisk.out.find("greeting [default]"), std::string::npos);

  // The older shape: the resource in the message itself.
  MOXPResourceWithMetadata older;
  older.set_time_stamp(1);
  *older.mutable_resource() = resource;
  EXPECT_NE(runTool({"inspect", write("older.bin", older), "--as", "saved"})
                .out.find("greeting [default]"),
            std::string::npos);

  // Missing required fields: shown, then refused.
  MOXPResourceWithMetadata incomplete;
  *incomplete.mutable_resource() = resource;
  const ToolResult refused =
      runTool({"inspect", write("incomplete.bin", incomplete), "--as", "saved"});
  EXPECT_EQ(refused.exitCode, 2);
  EXPECT_NE(refused.out.find("# Invalid\n"), std::string::npos);
  EXPECT_NE(refused.err.find("missing required time_stamp"), std::string::npos) << refused.err;
}

TEST_F(LoomsetInspect, InvalidInputExitsTwoWithTheReason) {
  MOXPResource broken = resource;
  broken.mutable_macro(0)->add_property(999);
  const ToolResult invalid = runTool({"inspect", write("broken.bin", broken)});
  EXPECT_EQ(invalid.exitCode, 2);
  EXPECT_NE(invalid.out.find("\n# Expansion error\ninvalid resource: Index out of bounds "
                             "detected: 999 in properties\n"),
            std::string::npos)
      << invalid.out;
  EXPECT_NE(invalid.err.find("Index out of bounds detected: 999 in properties"), std::string::npos);
  EXPECT_EQ(invalid.out.find("# Expanded model"), std::string::npos);

  writeFile(dir.file("garbage.bin"), "\xff\xff\xff\xff");
  const ToolResult garbage = runTool({"inspect", dir.file("garbage.bin")});
  EXPECT_EQ(garbage.exitCode, 2);
  EXPECT_NE(garbage.err.find("the bytes do not parse"), std::string::npos);
  EXPECT_EQ(runTool({"inspect", dir.file("absent.bin")}).exitCode, 2);
  EXPECT_EQ(runTool({"inspect", dir.file("shop.bin"), "--as", "json"}).exitCode, 1);
  EXPECT_EQ(runTool({"inspect"}).exitCode, 1);
}

}  // namespace
}  // namespace loomset::testing
