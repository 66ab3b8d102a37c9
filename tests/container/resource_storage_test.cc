// Saved copies and bundle defaults: where the file lives, what a load reports for each kind of
// file, preview mode, data directories that cannot be used, writes that fail part-way, saves that
// run out of order, and the order in which bundle defaults are tried.
#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "container/LoadingTestSupport.h"
#include "container/loading/MOXDefaultContainer.h"
#include "container/loading/MOXResourceStorageImpl.h"
#include "container/preview/MOXPreviewManager.h"
#include "loomset/Exceptions.h"
#include "support/FaultInjectingFileSystem.h"
#include "support/RecordingLoadCallback.h"
#include "support/RecordingLogger.h"
#include "support/ScopedPlatform.h"

namespace loomset {
namespace {

using Recorder = testing::RecordingLoadCallback<MOXPResourceWithMetadata>;
using testing::savedResource;

constexpr double kTimeStamp = 1700000000000.0;

std::string bytesOf(const google::protobuf::MessageLite& message) {
  std::string bytes;
  message.SerializePartialToString(&bytes);
  return bytes;
}

std::vector<std::string> filesIn(const std::string& directory) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    names.push_back(entry.path().filename().string());
  }
  return names;
}

class ResourceStorageTest : public ::testing::Test {
 protected:
  ~ResourceStorageTest() override { MOXPreviewManager::instance()->clear(); }

  FileSystem& files() const { return *platform_.platform()->fileSystem; }
  std::string savedFile(const std::string& id = "GTM-1") const {
    return platform_.dataRoot() + "/Library/Application Support/Orvex/Loomset/resource_" + id;
  }
  void writeSavedFile(const std::string& bytes, const std::string& id = "GTM-1") const {
    ASSERT_TRUE(files().createDirectories(std::filesystem::path(savedFile(id)).parent_path()));
    ASSERT_TRUE(files().writeFileAtomically(savedFile(id), bytes));
  }
  void writeBundleFile(const std::string& name, const std::string& bytes) const {
    ASSERT_TRUE(files().writeFileAtomically(platform_.resourceDirectory() + "/" + name, bytes));
  }

  // Loads in the background, as a container does, and answers what the callback heard.
  std::shared_ptr<Recorder> loadInBackground(MOXResourceStorageImpl& storage) {
    auto callback = std::make_shared<Recorder>();
    storage.setLoadCallback(callback);
    storage.loadResourceFromDiskInBackground();
    platform_.runUntilIdle();
    return callback;
  }

  testing::ScopedPlatform platform_;
  testing::ScopedRecordingLogger log_;
};

TEST_F(ResourceStorageTest, SavesAndLoadsTheWholeMessageUnderTheDataDirectory) {
  auto storage = MOXResourceStorageImpl::create("GTM-1");
  EXPECT_EQ(storage->resourceFilename(), savedFile());

  const MOXPResourceWithMetadata first = savedResource("1", kTimeStamp);
  ASSERT_TRUE(storage->saveResourceToDisk(first));
  EXPECT_TRUE(files().readFile(savedFile()) == bytesOf(first));

  // The background save replaces it; the background load reports it on the main loop.
  const MOXPResourceWithMetadata second = savedResource("2", kTimeStamp + 1);
  std::optional<bool> saved;
  storage->saveResourceToDiskInBackground(second, [&](bool ok) { saved = ok; });
  platform_.runUntilIdle();
  EXPECT_EQ(saved, true);

  auto callback = loadInBackground(*storage);
  EXPECT_EQ(callback->summary(), "start success");
  const auto result = callback->result();
  ASSERT_TRUE(result.resource);
  EXPECT_EQ(bytesOf(*result.resource), bytesOf(second));
  EXPECT_EQ(result.resource->supplemented_resource().resource().version(), "2");
  EXPECT_EQ(filesIn(std::filesystem::path(savedFile()).parent_path().string()),
            std::vector<std::string>{"resource_GTM-1"});
}

TEST_F(ResourceStorageTest, ReportsWhySavedResourceCannotBeUsed) {
  MOXPResourceWithMetadata noTimeStamp = savedResource("1", kTimeStamp);
  noTimeStamp.clear_time_stamp();
  const struct {
    const char* name;
    std::optional<std::string> file;  // none: no file
    MOXLoadFailure failure;
    std::string logged;
  } cases[] = {
      {"missing", std::nullopt, kMOXLoadFailureNotAvailable, "Resource not on disk"},
      // Parses as a message without its required fields.
      {"zero bytes", std::string(), kMOXLoadFailureIOError, "Resource from disk not initialized."},
      {"no time stamp", bytesOf(noTimeStamp), kMOXLoadFailureIOError,
       "Resource from disk not initialized."},
      {"garbage", std::string("\xff\xff\xff\xff not a message"), kMOXLoadFailureIOError,
       "Error reading resource from disk"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    log_->clear();
    const std::string id = std::string("GTM-") + c.name;
    if (c.file) writeSavedFile(*c.file, id);
    auto callback = loadInBackground(*MOXResourceStorageImpl::create(id));
    EXPECT_EQ(callback->summary(), "start failure " + std::to_string(c.failure));
    EXPECT_TRUE(callback->result().onMainLoop);
    EXPECT_TRUE(log_->contains(c.logged)) << "missing log text: " << c.logged;
  }
}

TEST_F(ResourceStorageTest, APreviewedContainerDoesNotReadItsSavedFile) {
  writeSavedFile("\xff\xff garbage that would be reported if it were read");
  ASSERT_TRUE(MOXPreviewManager::instance()->generatePreviewDataForUrl(
      "loomset.c.app://preview/p?id=GTM-1&wen_auth=abc&wen_preview=1"));

  auto callback = loadInBackground(*MOXResourceStorageImpl::create("GTM-1"));
  EXPECT_EQ(callback->summary(), "start failure 1");
  EXPECT_FALSE(log_->contains("Error reading resource from disk"));

  // Other containers read theirs as usual.
  writeSavedFile(bytesOf(savedResource("5", kTimeStamp)), "GTM-2");
  EXPECT_EQ(loadInBackground(*MOXResourceStorageImpl::create("GTM-2"))->summary(), "start success");
}

TEST_F(ResourceStorageTest, ADataDirectoryThatCannotBeCreatedFailsLoudlyButStillAnswers) {
  // A file where the Library directory should be.
  ASSERT_TRUE(files().writeFileAtomically(platform_.dataRoot() + "/Library", "in the way"));
  auto storage = MOXResourceStorageImpl::create("GTM-1");

  EXPECT_THROW(storage->dataPath(), UnableToCreateDataDirectory);
  log_->clear();
  EXPECT_FALSE(storage->saveResourceToDisk(savedResource("1", kTimeStamp)));
  EXPECT_TRUE(log_->contains("Create directory error: "));

  // The container must hear back, or it would never go on to fetch from the network.
  EXPECT_EQ(loadInBackground(*storage)->summary(), "start failure 2");
}

TEST_F(ResourceStorageTest, WithoutDataRootNothingIsStoredOrRead) {
  testing::ScopedPlatform noRoot([](Platform& p) { p.directories = DataDirectories(""); });
  auto storage = MOXResourceStorageImpl::create("GTM-1");
  EXPECT_EQ(storage->resourceFilename(), std::nullopt);
  EXPECT_FALSE(storage->saveResourceToDisk(savedResource("1", kTimeStamp)));
  auto callback = std::make_shared<Recorder>();
  storage->setLoadCallback(callback);
  storage->loadResourceFromDiskInBackground();
  noRoot.runUntilIdle();
  EXPECT_EQ(callback->summary(), "start failure 1");
}

TEST_F(ResourceStorageTest, AWriteThatFailsPartWayKeepsTheEarlierCopyAndLeavesNoTemporaryFile) {
  using Operation = testing::FaultInjectingFileSystem::Operation;
  auto faults = std::make_shared<testing::FaultInjectingFileSystem>();
  testing::ScopedPlatform platform([&](Platform& p) { p.fileSystem = faults; });
  auto storage = MOXResourceStorageImpl::create("GTM-1");
  const MOXPResourceWithMetadata old = savedResource("old", kTimeStamp);
  ASSERT_TRUE(storage->saveResourceToDisk(old));
  const std::string file = *storage->resourceFilename();
  const std::string directory = std::filesystem::path(file).parent_path().string();
  const MOXPResourceWithMetadata large = savedResource("new", kTimeStamp + 1, 256 * 1024);

  // A full disk stops the write part of the way in; a failed flush; a failed rename.
  const Operation failing[] = {Operation::kAppend, Operation::kSync, Operation::kRename};
  for (const Operation operation : failing) {
    SCOPED_TRACE(static_cast<int>(operation));
    log_->clear();
    faults->failNext(operation);
    EXPECT_FALSE(storage->saveResourceToDisk(large));
    EXPECT_EQ(faults->failures(operation), 1);
    EXPECT_TRUE(log_->contains("Error writing resource to disk."));
    EXPECT_TRUE(faults->readFile(file) == bytesOf(old));
    EXPECT_EQ(filesIn(directory), std::vector<std::string>{"resource_GTM-1"});
  }

  // An incomplete message is never written over a good copy either.
  MOXPResourceWithMetadata incomplete = large;
  incomplete.clear_time_stamp();
  EXPECT_FALSE(storage->saveResourceToDisk(incomplete));
  EXPECT_TRUE(faults->readFile(file) == bytesOf(old));

  // Space is back: the next save lands.
  ASSERT_TRUE(storage->saveResourceToDisk(large));
  EXPECT_TRUE(faults->readFile(file) == bytesOf(large));
}

// Runs background work only when told, newest first.
class ReversingExecutor final : public Executor {
 public:
  void execute(std::function<void()> work) override { work_.push_back(std::move(work)); }
  void runNewestFirst() {
    while (!work_.empty()) {
      auto work = std::move(work_.back());
      work_.pop_back();
      work();
    }
  }

 private:
  std::deque<std::function<void()>> work_;
};

TEST_F(ResourceStorageTest, AnEarlierSaveThatRunsLateDoesNotOverwriteALaterOne) {
  auto executor = std::make_shared<ReversingExecutor>();
  testing::ScopedPlatform reversed([&](Platform& p) { p.background = executor; });
  auto storage = MOXResourceStorageImpl::create("GTM-1");

  storage->saveResourceToDiskInBackground(savedResource("earlier", kTimeStamp));
  storage->saveResourceToDiskInBackground(savedResource("later", kTimeStamp + 1));
  executor->runNewestFirst();
  reversed.runUntilIdle();

  const auto loaded = storage->loadResourceFromDisk();
  ASSERT_TRUE(loaded.resource);
  EXPECT_EQ(loaded.resource->supplemented_resource().resource().version(), "later");
}

TEST_F(ResourceStorageTest, TriesBundleDefaultsBinaryThenPropertyListThenJson) {
  auto storage = MOXResourceStorageImpl::create("GTM-1");
  const std::string plist = R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><dict>)"
                            R"(<key>greeting</key><string>from plist</string></dict></plist>)";

  // Nothing shipped: each form is looked for and reported missing.
  EXPECT_FALSE(MOXLoadDefaultContainer(*storage, "GTM-1").found());
  EXPECT_TRUE(log_->contains("Cannot find binary resource file 'GTM-1'."));
  EXPECT_TRUE(log_->contains("Cannot find resource file 'GTM-1.plist'."));
  EXPECT_TRUE(log_->contains("Cannot find resource file 'GTM-1.json'."));

  writeBundleFile("GTM-1.json", R"({"greeting": "from json"})");
  auto found = MOXLoadDefaultContainer(*storage, "GTM-1");
  ASSERT_TRUE(found.expandedResource);
  EXPECT_NE(found.expandedResource->macrosByName("greeting"), nullptr);

  writeBundleFile("GTM-1.plist", plist);
  log_->clear();
  found = MOXLoadDefaultContainer(*storage, "GTM-1");
  ASSERT_TRUE(found.expandedResource);
  EXPECT_TRUE(log_->contains("loading default container from GTM-1.plist"));
  EXPECT_FALSE(log_->contains("loading default container from GTM-1.json"));

  // The binary one wins, and the others are not read at all.
  writeBundleFile("GTM-1", bytesOf(testing::versionedResource("bin")));
  writeBundleFile("GTM-1.json", "{ not json");
  log_->clear();
  found = MOXLoadDefaultContainer(*storage, "GTM-1");
  ASSERT_TRUE(found.resource);
  EXPECT_FALSE(found.expandedResource);
  EXPECT_EQ(found.resource->version(), "bin");
  EXPECT_TRUE(log_->contains("Loading default container from GTM-1"));
  EXPECT_FALSE(log_->contains("plist"));
  EXPECT_FALSE(log_->contains("json"));
}

TEST_F(ResourceStorageTest, UnusableBundleDefaultsAreSkippedWithAWarning) {
  auto storage = MOXResourceStorageImpl::create("GTM-1");
  MOXPResource incomplete;
  incomplete.add_macro();  // lacks its required function
  const struct {
    const char* file;
    std::string bytes;
    std::string logged;
  } cases[] = {
      {"GTM-1", bytesOf(incomplete), "Resource from container not initialized."},
      {"GTM-1", "\xff\xff\xff", "Error reading resource from binary container file: "},
      {"GTM-1.plist", R"(<plist version="1.0"><array><string>a</string></array></plist>)",
       "Error reading resource from plist file: "},
      {"GTM-1.plist", "not a plist", "Error reading resource from plist file: "},
      {"GTM-1.json", "[1, 2]", "Error reading resource from json file: "},
      {"GTM-1.json", "{ broken", "Error reading resource from json file: "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file + (": " + c.logged));
    std::filesystem::remove_all(platform_.resourceDirectory());
    std::filesystem::create_directories(platform_.resourceDirectory());
    writeBundleFile(c.file, c.bytes);
    log_->clear();
    EXPECT_FALSE(MOXLoadDefaultContainer(*storage, "GTM-1").found());
    EXPECT_TRUE(log_->contains(c.logged));
  }

  // A broken binary default gives way to a good JSON one.
  writeBundleFile("GTM-1", "\xff\xff\xff");
  writeBundleFile("GTM-1.json", R"({"greeting": "from json"})");
  EXPECT_TRUE(MOXLoadDefaultContainer(*storage, "GTM-1").expandedResource);
}

}  // namespace
}  // namespace loomset
