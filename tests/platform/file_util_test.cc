#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "Library/Util/platform/FileUtil.h"
#include "support/TempDir.h"

namespace loomset {
namespace {

std::vector<std::string> entries(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    names.push_back(e.path().filename().string());
  }
  return names;
}

TEST(FileUtil, WritesAtomicallyReplacesAndLeavesNoTemporaryFiles) {
  testing::TempDir dir;
  const auto path = dir.file("store.bin");
  EXPECT_FALSE(FileUtil::exists(path));
  EXPECT_FALSE(FileUtil::readFile(path).has_value());

  const std::string binary("a\0b\xff", 4);
  ASSERT_TRUE(FileUtil::writeFileAtomically(path, binary));
  EXPECT_EQ(FileUtil::readFile(path), binary);
  ASSERT_TRUE(FileUtil::writeFileAtomically(path, "second"));
  EXPECT_EQ(FileUtil::readFile(path), "second");
  ASSERT_TRUE(FileUtil::writeFileAtomically(path, ""));
  EXPECT_EQ(FileUtil::readFile(path), "");
  std::string big(300 * 1024, 'x');
  ASSERT_TRUE(FileUtil::writeFileAtomically(path, big));
  EXPECT_EQ(FileUtil::readFile(path), big);

  EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"store.bin"});
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0077, 0u) << "stored data should be private to the user";
}

TEST(FileUtil, ConcurrentWritersEachLeaveAWholeFile) {
  testing::TempDir dir;
  const auto path = dir.file("shared");
  const std::string a(100000, 'a');
  const std::string b(100000, 'b');
  std::thread first([&] {
    for (int i = 0; i < 20; ++i) FileUtil::writeFileAtomically(path, a);
  });
  std::thread second([&] {
    for (int i = 0; i < 20; ++i) FileUtil::writeFileAtomically(path, b);
  });
  for (int i = 0; i < 20; ++i) {
    if (auto content = FileUtil::readFile(path)) EXPECT_TRUE(*content == a || *content == b);
  }
  first.join();
  second.join();
  EXPECT_EQ(entries(dir.path()).size(), 1u);
}

TEST(FileUtil, FailuresAreReportedNotThrown) {
  testing::TempDir dir;
  EXPECT_FALSE(FileUtil::writeFileAtomically(dir.file("missing/dir/file"), "x"));
  EXPECT_FALSE(FileUtil::writeFileAtomically("", "x"));
  EXPECT_FALSE(FileUtil::writeFileAtomically(dir.path() + "/", "x"));
  EXPECT_FALSE(FileUtil::readFile(dir.path()).has_value());  // a directory is not a file
  EXPECT_FALSE(FileUtil::createDirectories(""));

  // A directory cannot be made where a file stands, nor a file written over a directory.
  ASSERT_TRUE(FileUtil::writeFileAtomically(dir.file("plain"), "x"));
  EXPECT_FALSE(FileUtil::createDirectories(dir.file("plain")));
  EXPECT_FALSE(FileUtil::createDirectories(dir.file("plain/sub")));
  ASSERT_TRUE(FileUtil::createDirectories(dir.file("folder")));
  EXPECT_FALSE(FileUtil::writeFileAtomically(dir.file("folder"), "x"));
  auto left = entries(dir.path());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"folder", "plain"}));
}

TEST(FileUtil, CreatesNestedDirectoriesAndRemoves) {
  testing::TempDir dir;
  const auto nested = dir.file("a/b/c");
  ASSERT_TRUE(FileUtil::createDirectories(nested));
  EXPECT_TRUE(FileUtil::createDirectories(nested));  // already there is fine
  ASSERT_TRUE(FileUtil::writeFileAtomically(nested + "/f", "x"));
  EXPECT_TRUE(FileUtil::exists(nested + "/f"));

  EXPECT_FALSE(FileUtil::remove(dir.file("a")));  // not empty
  EXPECT_TRUE(FileUtil::exists(dir.file("a")));
  EXPECT_TRUE(FileUtil::remove(nested + "/f"));
  EXPECT_FALSE(FileUtil::exists(nested + "/f"));
  EXPECT_TRUE(FileUtil::remove(nested + "/f"));  // already gone
  EXPECT_TRUE(FileUtil::removeAll(dir.file("a")));
  EXPECT_FALSE(FileUtil::exists(dir.file("a")));
  EXPECT_TRUE(FileUtil::removeAll(dir.file("a")));
}

}  // namespace
}  // namespace loomset
