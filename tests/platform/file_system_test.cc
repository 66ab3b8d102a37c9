#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "Library/Util/platform/PosixFileSystem.h"
#include "support/FaultInjectingFileSystem.h"
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

TEST(PosixFileSystem, WritesAtomicallyReplacesAndLeavesNoTemporaryFiles) {
  testing::TempDir dir;
  PosixFileSystem files;
  const auto path = dir.file("store.bin");
  EXPECT_FALSE(files.exists(path));
  EXPECT_FALSE(files.readFile(path).has_value());

  const std::string binary("a\0b\xff", 4);
  ASSERT_TRUE(files.writeFileAtomically(path, binary));
  EXPECT_EQ(files.readFile(path), binary);
  ASSERT_TRUE(files.writeFileAtomically(path, "second"));
  EXPECT_EQ(files.readFile(path), "second");
  ASSERT_TRUE(files.writeFileAtomically(path, ""));
  EXPECT_EQ(files.readFile(path), "");
  std::string big(300 * 1024, 'x');
  ASSERT_TRUE(files.writeFileAtomically(path, big));
  EXPECT_EQ(files.readFile(path), big);

  EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"store.bin"});
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0077, 0u) << "stored data should be private to the user";
}

TEST(PosixFileSystem, ConcurrentWritersEachLeaveAWholeFile) {
  testing::TempDir dir;
  PosixFileSystem files;
  const auto path = dir.file("shared");
  const std::string a(100000, 'a');
  const std::string b(100000, 'b');
  std::thread first([&] {
    for (int i = 0; i < 20; ++i) files.writeFileAtomically(path, a);
  });
  std::thread second([&] {
    for (int i = 0; i < 20; ++i) files.writeFileAtomically(path, b);
  });
  for (int i = 0; i < 20; ++i) {
    if (auto content = files.readFile(path)) EXPECT_TRUE(*content == a || *content == b);
  }
  first.join();
  second.join();
  EXPECT_EQ(entries(dir.path()).size(), 1u);
}

TEST(PosixFileSystem, FailuresAreReportedNotThrown) {
  testing::TempDir dir;
  PosixFileSystem files;
  EXPECT_FALSE(files.writeFileAtomically(dir.file("missing/dir/file"), "x"));
  EXPECT_FALSE(files.writeFileAtomically("", "x"));
  EXPECT_FALSE(files.writeFileAtomically(dir.path() + "/", "x"));
  EXPECT_FALSE(files.readFile(dir.path()).has_value());  // a directory is not a file
  EXPECT_FALSE(files.createDirectories(""));

  // A directory cannot be made where a file stands, nor a file written over a directory.
  ASSERT_TRUE(files.writeFileAtomically(dir.file("plain"), "x"));
  EXPECT_FALSE(files.createDirectories(dir.file("plain")));
  EXPECT_FALSE(files.createDirectories(dir.file("plain/sub")));
  ASSERT_TRUE(files.createDirectories(dir.file("folder")));
  EXPECT_FALSE(files.writeFileAtomically(dir.file("folder"), "x"));
  auto left = entries(dir.path());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"folder", "plain"}));
}

TEST(PosixFileSystem, CreatesNestedDirectoriesAndRemoves) {
  testing::TempDir dir;
  PosixFileSystem files;
  const auto nested = dir.file("a/b/c");
  ASSERT_TRUE(files.createDirectories(nested));
  EXPECT_TRUE(files.createDirectories(nested));  // already there is fine
  ASSERT_TRUE(files.writeFileAtomically(nested + "/f", "x"));
  EXPECT_TRUE(files.exists(nested + "/f"));

  EXPECT_FALSE(files.remove(dir.file("a")));  // not empty
  EXPECT_TRUE(files.exists(dir.file("a")));
  EXPECT_TRUE(files.remove(nested + "/f"));
  EXPECT_FALSE(files.exists(nested + "/f"));
  EXPECT_TRUE(files.remove(nested + "/f"));  // already gone
  EXPECT_TRUE(files.removeAll(dir.file("a")));
  EXPECT_FALSE(files.exists(dir.file("a")));
  EXPECT_TRUE(files.removeAll(dir.file("a")));
}

using Operation = testing::FaultInjectingFileSystem::Operation;

// Whatever step of an atomic write fails (the temporary file refused, a full disk part of the way,
// a flush, a close, the rename), the old content stays whole and nothing is left beside it.
TEST(FileSystem, AFailedAtomicWriteKeepsTheOldContentAndLeavesNoTemporaryFile) {
  for (Operation failing : {Operation::kNewTemporaryFile, Operation::kAppend, Operation::kSync,
                            Operation::kClose, Operation::kRename}) {
    SCOPED_TRACE(static_cast<int>(failing));
    testing::TempDir dir;
    testing::FaultInjectingFileSystem files;
    const auto path = dir.file("defaults.json");
    ASSERT_TRUE(files.writeFileAtomically(path, "old"));
    files.failNext(failing);
    EXPECT_FALSE(files.writeFileAtomically(path, std::string(64 * 1024, 'n')));
    EXPECT_EQ(files.failures(failing), 1);
    EXPECT_EQ(files.readFile(path), "old");
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"defaults.json"});
    // One failure only: the next write goes through.
    ASSERT_TRUE(files.writeFileAtomically(path, "new"));
    EXPECT_EQ(files.readFile(path), "new");
  }
}

TEST(FaultInjectingFileSystem, FailsOnlyMatchingPathsAndAFullDiskLastsUntilHealed) {
  testing::TempDir dir;
  testing::FaultInjectingFileSystem files;
  files.failAlways(Operation::kCreateDirectories, "/blocked");
  EXPECT_FALSE(files.createDirectories(dir.file("blocked/a")));
  EXPECT_TRUE(files.createDirectories(dir.file("open/a")));
  files.failNext(Operation::kReadFile, 2);
  ASSERT_TRUE(files.writeFileAtomically(dir.file("f"), "x"));
  EXPECT_FALSE(files.readFile(dir.file("f")));
  EXPECT_FALSE(files.readFile(dir.file("f")));
  EXPECT_EQ(files.readFile(dir.file("f")), "x");

  files.fillDisk();
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(files.writeFileAtomically(dir.file("f"), "y"));
  EXPECT_EQ(files.failures(Operation::kAppend), 3);
  files.heal();
  EXPECT_TRUE(files.writeFileAtomically(dir.file("f"), "y"));
  EXPECT_TRUE(files.createDirectories(dir.file("blocked/a")));
  EXPECT_EQ(files.readFile(dir.file("f")), "y");
}

}  // namespace
}  // namespace loomset
