#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "foundation/MOXPropertyListUtil.h"
#include "loomset/Objects.h"
#include "support/FaultInjectingFileSystem.h"
#include "support/RecordingLogger.h"
#include "support/ScopedPlatform.h"

namespace loomset {
namespace {

using namespace obj;

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void spit(const std::string& path, const std::string& data) {
  std::ofstream(path, std::ios::binary) << data;
}

class PropertyListTest : public ::testing::Test {
 protected:
  testing::ScopedPlatform platform_;
  testing::ScopedRecordingLogger log_;
};

TEST_F(PropertyListTest, WritesBinaryIntoDocumentsAndReadsEveryKindBack) {
  auto original = dict({{"text", str("h\xC3\xA9llo")},
                        {"int", i64(-42)},
                        {"big", i64(INT64_MAX)},
                        {"real", dbl(2.5)},
                        {"flag", boolean(true)},
                        {"list", array({str("a"), i64(1)})},
                        {"nested", dict({{"k", str("v")}})}});
  original->setObject(std::make_shared<Data>(std::vector<std::uint8_t>{0, 255, 7}), "bytes");
  original->setObject(std::make_shared<Date>(1700000000.25), "date");

  ASSERT_TRUE(MOXPropertyListUtil::writePropertyList("Things", original));
  const std::string path = MOXPropertyListUtil::plistFilePath("Things");
  EXPECT_EQ(path, platform_.dataRoot() + "/Documents/Things");
  EXPECT_EQ(slurp(path).substr(0, 8), "bplist00");

  ObjectPtr back = MOXPropertyListUtil::readPropertyList("Things");
  ASSERT_NE(back, nullptr);
  Dictionary* d = asDictionary(back);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->objectForKey("text")->description(), "h\xC3\xA9llo");
  EXPECT_EQ(asNumber(d->objectForKey("int"))->longLongValue(), -42);
  EXPECT_EQ(asNumber(d->objectForKey("big"))->longLongValue(), INT64_MAX);
  EXPECT_TRUE(asNumber(d->objectForKey("real"))->isFloatingKind());
  EXPECT_EQ(asNumber(d->objectForKey("real"))->doubleValue(), 2.5);
  EXPECT_TRUE(asNumber(d->objectForKey("flag"))->boolValue());
  EXPECT_TRUE(d->objectForKey("list")->isEqual(*array({str("a"), i64(1)})));
  EXPECT_EQ(asDictionary(d->objectForKey("nested"))->objectForKey("k")->description(), "v");
  EXPECT_TRUE(d->objectForKey("bytes")->isEqual(Data({0, 255, 7})));
  EXPECT_TRUE(d->objectForKey("date")->isEqual(Date(1700000000.25)));
  // Read back as mutable containers.
  d->setObject(str("new"), "added");
  EXPECT_EQ(d->count(), 10u);
}

TEST_F(PropertyListTest, MissingAndCorruptFilesAreReportedNotFatal) {
  EXPECT_EQ(MOXPropertyListUtil::readPropertyList("Never"), nullptr);
  const std::string missingPath = MOXPropertyListUtil::plistFilePath("Never");
  EXPECT_EQ(log_->messages(kMOXLogLevelDebug),
            std::vector<std::string>{"No plist file: " + missingPath + " found."});
  EXPECT_EQ(log_->lines().size(), 1u);

  ASSERT_TRUE(MOXPropertyListUtil::writePropertyList("Corrupt", dict({})));
  spit(MOXPropertyListUtil::plistFilePath("Corrupt"), "this is not a property list");
  EXPECT_EQ(MOXPropertyListUtil::readPropertyList("Corrupt"), nullptr);
  spit(MOXPropertyListUtil::plistFilePath("Corrupt"), std::string("bplist00\xFF\x01", 10));
  EXPECT_EQ(MOXPropertyListUtil::readPropertyList("Corrupt"), nullptr);
  const auto infos = log_->messages(kMOXLogLevelInfo);
  ASSERT_EQ(infos.size(), 2u);
  EXPECT_EQ(infos[0].rfind("Error reading plist: ", 0), 0u);
  EXPECT_NE(infos[0].find(", format: 0r"), std::string::npos);
}

// A binary property list {"a<NUL>b": "s<NUL>t", "x&<>y": true}, written by hand: libplist
// itself stops the process when asked for a key holding a NUL byte.
std::string binaryListWithNulBytes() {
  const unsigned char bytes[] = {
      'b',  'p', 'l', 'i', 's', 't', '0', '0',
      0xD2, 1,   2,   3,   4,                  // 8: dict, keys 1 and 2, values 3 and 4
      0x53, 'a', 0,   'b',                     // 13: "a\0b"
      0x55, 'x', '&', '<', '>', 'y',           // 17: "x&<>y"
      0x53, 's', 0,   't',                     // 23: "s\0t"
      0x09,                                    // 27: true
      8,    13,  17,  23,  27,                 // 28: offsets
      0,    0,   0,   0,   0,   0,   1,   1,   // trailer: offset and reference sizes
      0,    0,   0,   0,   0,   0,   0,   5,   // objects
      0,    0,   0,   0,   0,   0,   0,   0,   // top object
      0,    0,   0,   0,   0,   0,   0,   28,  // offset table
  };
  return std::string(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

TEST_F(PropertyListTest, TextsHoldingNulBytesAreReadUpToTheirFirstNul) {
  ASSERT_TRUE(MOXPropertyListUtil::writePropertyList("Seed", dict({})));  // creates Documents
  spit(MOXPropertyListUtil::plistFilePath("Nul"), binaryListWithNulBytes());
  ObjectPtr back = MOXPropertyListUtil::readPropertyList("Nul");
  const auto* read = asDictionary(back);
  ASSERT_NE(read, nullptr);
  EXPECT_EQ(read->count(), 2u);
  ASSERT_NE(read->objectForKey("a"), nullptr);
  EXPECT_EQ(read->objectForKey("a")->description(), "s");
  // In a list that holds a NUL somewhere every key takes the careful path: escapes come back.
  ASSERT_NE(read->objectForKey("x&<>y"), nullptr);
  EXPECT_TRUE(asNumber(read->objectForKey("x&<>y"))->boolValue());
}

TEST_F(PropertyListTest, ReadsXmlPropertyLists) {
  ASSERT_TRUE(MOXPropertyListUtil::writePropertyList("Seed", dict({})));  // creates Documents
  spit(MOXPropertyListUtil::plistFilePath("Xml"),
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
       "<plist version=\"1.0\"><dict><key>conv</key><string>abc</string>"
       "<key>n</key><integer>3</integer></dict></plist>\n");
  ObjectPtr back = MOXPropertyListUtil::readPropertyList("Xml");
  ASSERT_NE(asDictionary(back), nullptr);
  EXPECT_EQ(asDictionary(back)->objectForKey("conv")->description(), "abc");
  EXPECT_EQ(asNumber(asDictionary(back)->objectForKey("n"))->longLongValue(), 3);
}

TEST_F(PropertyListTest, UnstorableObjectsFailTheWriteAndKeepTheOldFile) {
  ASSERT_TRUE(MOXPropertyListUtil::writePropertyList("Ids", dict({{"a", str("1")}})));
  EXPECT_FALSE(MOXPropertyListUtil::writePropertyList("Ids", dict({{"a", null()}})));
  auto badKey = Dictionary::create();
  badKey->setObject(str("v"), i64(1));
  EXPECT_FALSE(MOXPropertyListUtil::writePropertyList("Ids", badKey));
  const auto warnings = log_->messages(kMOXLogLevelWarning);
  ASSERT_EQ(warnings.size(), 2u);
  EXPECT_EQ(warnings[0].rfind("Failed to Write property list Ids with error ", 0), 0u);
  EXPECT_TRUE(MOXPropertyListUtil::readPropertyList("Ids")->isEqual(*dict({{"a", str("1")}})));
}

TEST_F(PropertyListTest, LaterWritesWinWhateverOrderTheyRunIn) {
  ASSERT_TRUE(MOXPropertyListUtil::writePropertyList("Order", dict({{"v", str("sync")}})));
  MOXPropertyListUtil::writePropertyListAsync("Order", dict({{"v", str("async")}}));
  platform_.runUntilIdle();
  EXPECT_TRUE(
      MOXPropertyListUtil::readPropertyList("Order")->isEqual(*dict({{"v", str("async")}})));

  // An older background write that runs late must not undo a newer synchronous one.
  MOXPropertyListUtil::writePropertyListAsync("Order", dict({{"v", str("stale")}}));
  ASSERT_TRUE(MOXPropertyListUtil::writePropertyList("Order", dict({{"v", str("fresh")}})));
  platform_.runUntilIdle();
  EXPECT_TRUE(
      MOXPropertyListUtil::readPropertyList("Order")->isEqual(*dict({{"v", str("fresh")}})));

  // Nor resurrect a removed file.
  MOXPropertyListUtil::writePropertyListAsync("Order", dict({{"v", str("ghost")}}));
  EXPECT_TRUE(MOXPropertyListUtil::removePropertyList("Order"));
  platform_.runUntilIdle();
  log_->clear();
  EXPECT_EQ(MOXPropertyListUtil::readPropertyList("Order"), nullptr);
}

TEST_F(PropertyListTest, WithoutADataRootNothingIsWritten) {
  testing::ScopedPlatform rootless([](Platform& p) { p.directories = DataDirectories(""); });
  EXPECT_EQ(MOXPropertyListUtil::plistFilePath("Ids"), "");
  EXPECT_FALSE(MOXPropertyListUtil::writePropertyList("Ids", dict({})));
  EXPECT_EQ(MOXPropertyListUtil::readPropertyList("Ids"), nullptr);
  EXPECT_EQ(log_->messages(kMOXLogLevelWarning).size(), 1u);
}

TEST_F(PropertyListTest, RemovingAMissingFileIsQuiet) {
  EXPECT_TRUE(MOXPropertyListUtil::removePropertyList("Nothing"));
  EXPECT_TRUE(log_->lines().empty());
}

// The files go through the platform bundle's file system: a full disk fails the write, keeps the
// file as it was, and the next write after space returns lands.
TEST(PropertyListFiles, AFullDiskKeepsTheOldFileUntilSpaceReturns) {
  auto files = std::make_shared<testing::FaultInjectingFileSystem>();
  testing::ScopedPlatform platform([&](Platform& p) { p.fileSystem = files; });
  testing::ScopedRecordingLogger log;
  ASSERT_TRUE(MOXPropertyListUtil::writePropertyList("Referrers", dict({{"a", str("1")}})));
  files->fillDisk();
  EXPECT_FALSE(MOXPropertyListUtil::writePropertyList("Referrers", dict({{"a", str("2")}})));
  EXPECT_TRUE(log->contains("Failed to Write property list Referrers with error could not write"));
  EXPECT_TRUE(
      MOXPropertyListUtil::readPropertyList("Referrers")->isEqual(*dict({{"a", str("1")}})));
  files->heal();
  ASSERT_TRUE(MOXPropertyListUtil::writePropertyList("Referrers", dict({{"a", str("3")}})));
  EXPECT_TRUE(
      MOXPropertyListUtil::readPropertyList("Referrers")->isEqual(*dict({{"a", str("3")}})));
}

}  // namespace
}  // namespace loomset
