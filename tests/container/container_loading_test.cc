// A container loading for real: saved copies in a temporary data root and fetches from a
// container server on 127.0.0.1, with time moved by the fake clock on the manual main loop.
#include <gtest/gtest.h>

#include "ContainerTestEnvironment.h"
#include "Library/Util/platform/PosixFileSystem.h"
#include "container/preview/MOXPreviewManager.h"
#include "loomset/proto/resource_with_metadata.pb.h"

namespace loomset {
namespace {

using testing::constantResource;
using testing::ContainerServer;
using testing::ContainerTestEnvironment;
using testing::invalidResource;
using testing::LocalHttpServer;
using testing::RecordingCallback;
using testing::savedCopyBytes;

constexpr char kId[] = "GTM-LOAD";
constexpr double kHour = 3600;

class ContainerLoadingTest : public ::testing::Test {
 protected:
  ContainerLoadingTest() {
    env.writeBundleFile(std::string(kId) + ".json", R"({"greeting": "shipped"})");
    env.server().setResource(kId, constantResource("12", {{"greeting", "fetched"}}), "fp-12");
  }

  // Opens the container with a fresh manager and runs until `events` calls have been heard.
  std::shared_ptr<MOXContainer> open(std::size_t events) {
    if (!manager) manager = env.newManager();
    container = manager->openContainerById(kId, callback);
    EXPECT_NE(container, nullptr);
    EXPECT_TRUE(env.runUntilEvents(*callback, events)) << describe();
    return container;
  }

  // Moves the clock on by `seconds` and runs until `events` calls have been heard in all.
  void advanceUntilEvents(double seconds, std::size_t events) {
    env.platform().advanceAndRun(seconds);
    EXPECT_TRUE(env.runUntilEvents(*callback, events)) << describe();
  }

  std::string describe() const {
    std::string text = "events:";
    for (const auto& e : callback->events()) text += " [" + e + "]";
    return text;
  }

  // Seconds until the pending fetch, or -1 when none is pending.
  double secondsUntilNextFetch() {
    return env.platform().mainLoop().secondsUntilNextTimer().value_or(-1);
  }

  std::optional<MOXPResourceWithMetadata> savedCopy() {
    const auto bytes = PosixFileSystem().readFile(env.savedFilePath(kId));
    if (!bytes) return std::nullopt;
    MOXPResourceWithMetadata saved;
    if (!saved.ParseFromString(*bytes)) return std::nullopt;
    return saved;
  }

  ContainerTestEnvironment env;
  std::shared_ptr<MOXManager> manager;
  std::shared_ptr<RecordingCallback> callback = std::make_shared<RecordingCallback>();
  std::shared_ptr<MOXContainer> container;
};

TEST_F(ContainerLoadingTest, FirstOpenFetchesSavesAndASecondManagerStartsFromTheSavedCopy) {
  open(4);
  EXPECT_EQ(callback->events(), std::vector<std::string>({"begin saved", "failure 0 saved",
                                                          "begin network", "success network"}));
  EXPECT_EQ(container->stringForKey("greeting"), "fetched");
  EXPECT_EQ(container->resourceVersion(), "12");
  EXPECT_FALSE(container->isDefault());
  const double fetchedAt = env.platform().clock().nowMillis();
  EXPECT_EQ(container->lastRefreshTime(), fetchedAt);
  ASSERT_EQ(env.server().fetchCount(), 1u);
  const auto first = env.server().fetches()[0];
  EXPECT_EQ(first.target, std::string("/r?id=") + kId + "&v=i107577340");

  // Saved in the background, with the fetch time and the fingerprint.
  ASSERT_TRUE(env.runUntil([&] { return savedCopy().has_value(); }));
  EXPECT_EQ(savedCopy()->time_stamp(), static_cast<std::int64_t>(fetchedAt));
  EXPECT_EQ(savedCopy()->supplemented_resource().fingerprint(), "fp-12");
  EXPECT_EQ(savedCopy()->supplemented_resource().resource().version(), "12");
  EXPECT_NEAR(secondsUntilNextFetch(), 12 * kHour, 1e-6);

  // A process started an hour later: the saved copy answers first, and the next fetch comes
  // when the saved one is 12 hours old, naming the fingerprint it has.
  container->close();
  manager.reset();
  env.platform().advanceAndRun(kHour);
  callback = std::make_shared<RecordingCallback>();
  env.server().setResource(kId, constantResource("13", {{"greeting", "newer"}}), "fp-13");
  open(2);
  EXPECT_EQ(callback->events(), std::vector<std::string>({"begin saved", "success saved"}));
  EXPECT_EQ(container->stringForKey("greeting"), "fetched");
  EXPECT_EQ(container->lastRefreshTime(),
            static_cast<double>(static_cast<std::int64_t>(fetchedAt)));
  EXPECT_NEAR(secondsUntilNextFetch(), 11 * kHour, 1e-3);
  env.platform().advanceAndRun(11 * kHour - 1);
  EXPECT_EQ(env.server().fetchCount(), 1u);
  advanceUntilEvents(1, 4);
  EXPECT_EQ(callback->last(), "success network");
  ASSERT_EQ(env.server().fetchCount(), 2u);
  EXPECT_EQ(ContainerServer::parameter(env.server().fetches()[1], "pv"), "fp-12");
  EXPECT_EQ(container->stringForKey("greeting"), "newer");
}

TEST_F(ContainerLoadingTest, UnchangedAnswersKeepTheRuntimeAndCountAsSuccess) {
  open(4);
  env.runUntil([&] { return savedCopy().has_value(); });
  // The server answers the fingerprint alone when "pv" names its current one.
  container->refresh();
  EXPECT_TRUE(env.runUntilEvents(*callback, 6));
  EXPECT_EQ(callback->last(), "success network");
  EXPECT_EQ(ContainerServer::parameter(env.server().fetches().back(), "pv"), "fp-12");
  EXPECT_EQ(container->stringForKey("greeting"), "fetched");

  // An empty 200 body parses as "no change" too.
  env.server().enqueue(ContainerServer::body(200, ""));
  advanceUntilEvents(12 * kHour, 8);
  EXPECT_EQ(callback->last(), "success network");
  EXPECT_EQ(container->stringForKey("greeting"), "fetched");
  EXPECT_EQ(container->lastRefreshTime(), env.platform().clock().nowMillis());
}

TEST_F(ContainerLoadingTest, SupplementalsWithoutAResourceApplyAndAreKept) {
  open(4);
  MOXPLegacyRawProtoSupplementedResource answer;
  answer.set_fingerprint("fp-12");
  MOXPSupplemental* supplemental = answer.add_supplemental();
  supplemental->set_name("qzExperiment:banner");
  MOXPValue* update = supplemental->mutable_experiment_supplemental()->add_value_to_push();
  update->set_type(MOXPValue::Map);
  update->add_map_key()->set_type(MOXPValue::String);
  update->mutable_map_key(0)->set_string("variant");
  update->add_map_value()->set_type(MOXPValue::String);
  update->mutable_map_value(0)->set_string("b");
  env.server().enqueue(ContainerServer::body(200, answer.SerializeAsString()));

  container->refresh();
  ASSERT_TRUE(env.runUntilEvents(*callback, 6));
  EXPECT_EQ(callback->last(), "success network");
  const ObjectPtr variant = manager->dataLayer()->get("variant");
  ASSERT_NE(variant, nullptr);
  EXPECT_EQ(variant->description(), "b");
  EXPECT_EQ(container->stringForKey("greeting"), "fetched");
  // Saved with the resource they came after.
  ASSERT_TRUE(env.runUntil([&] {
    return savedCopy() && savedCopy()->supplemented_resource().supplemental_size() == 1;
  }));
  EXPECT_EQ(savedCopy()->supplemented_resource().resource().version(), "12");
}

TEST_F(ContainerLoadingTest, FailedFetchesAreTranslatedAndRetriedAfterAnHour) {
  struct Case {
    LocalHttpServer::Response response;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {ContainerServer::body(404, "none"), "failure 4 network"},
      {ContainerServer::body(500, "oops"), "failure 3 network"},
      {ContainerServer::body(200, "\xff\xff garbage"), "failure 4 network"},
      // The first answer holds no resource: "unchanged" means nothing without one.
      {ContainerServer::body(200, ""), "failure 4 network"},
  };
  for (const Case& c : cases) env.server().enqueue(c.response);
  open(4);
  EXPECT_EQ(callback->events()[3], cases[0].expected);
  for (std::size_t i = 1; i < cases.size(); ++i) {
    EXPECT_NEAR(secondsUntilNextFetch(), kHour, 1e-6) << i;
    env.platform().advanceAndRun(kHour - 1);
    EXPECT_EQ(env.server().fetchCount(), i) << "retried early";
    advanceUntilEvents(1, 4 + 2 * i);
    EXPECT_EQ(callback->last(), cases[i].expected) << i;
  }
  EXPECT_TRUE(container->isDefault());
  EXPECT_EQ(container->stringForKey("greeting"), "shipped");
  EXPECT_FALSE(savedCopy().has_value());
  // The scripted answers are used up: the next hourly fetch succeeds.
  advanceUntilEvents(kHour, 12);
  EXPECT_EQ(callback->last(), "success network");
  EXPECT_EQ(container->stringForKey("greeting"), "fetched");
}

TEST_F(ContainerLoadingTest, ARefusedConnectionIsNoNetwork) {
  manager = env.newManager();
  manager->setVeskServerAddress("http://127.0.0.1:" +
                                std::to_string(LocalHttpServer::unusedPort()));
  open(4);
  EXPECT_EQ(callback->last(), "failure 2 network");
  EXPECT_NEAR(secondsUntilNextFetch(), kHour, 1e-6);
}

TEST_F(ContainerLoadingTest, ARefusedResourceIsAFailureAndNothingOfItIsKept) {
  // A fetched resource that does not expand: not adopted, not saved, its fingerprint never sent.
  env.server().setResource(kId, invalidResource(), "fp-bad");
  open(4);
  EXPECT_EQ(callback->last(), "failure 4 network");
  EXPECT_TRUE(env.log().contains("Not loading resource: "));
  EXPECT_TRUE(container->isDefault());
  EXPECT_EQ(container->stringForKey("greeting"), "shipped");
  env.platform().runUntilIdle();
  EXPECT_FALSE(savedCopy().has_value());
  EXPECT_NEAR(secondsUntilNextFetch(), kHour, 1e-6);

  env.server().setResource(kId, constantResource("14", {{"greeting", "repaired"}}), "fp-14");
  advanceUntilEvents(kHour, 6);
  EXPECT_EQ(callback->last(), "success network");
  EXPECT_EQ(ContainerServer::parameter(env.server().fetches().back(), "pv"), "<absent>");
  EXPECT_EQ(container->stringForKey("greeting"), "repaired");

  // After a good resource, a bad one leaves the good one in place.
  env.server().setResource(kId, invalidResource(), "fp-bad");
  container->refresh();
  EXPECT_TRUE(env.runUntilEvents(*callback, 8));
  EXPECT_EQ(callback->last(), "failure 4 network");
  EXPECT_EQ(container->stringForKey("greeting"), "repaired");
  EXPECT_EQ(container->resourceVersion(), "14");
}

TEST_F(ContainerLoadingTest, AnUnusableSavedCopyIsAnIOErrorAndFetchesAtOnce) {
  const std::string good =
      savedCopyBytes(constantResource("5", {{"greeting", "saved"}}), "fp-5",
                     static_cast<std::int64_t>(testing::FakeClock::kDefaultStartMillis));
  const std::vector<std::pair<const char*, std::string>> files = {
      {"truncated", good.substr(0, good.size() / 2)},
      {"empty", ""},
      {"garbage", "\x08\xff\xff\xff not a message"},
      {"not expandable", savedCopyBytes(invalidResource(), "fp-bad", 1)},
  };
  for (const auto& [what, bytes] : files) {
    SCOPED_TRACE(what);
    ContainerTestEnvironment local;
    local.server().setResource(kId, constantResource("12", {{"greeting", "fetched"}}), "fp-12");
    local.writeSavedFile(kId, bytes);
    auto recorder = std::make_shared<RecordingCallback>();
    auto opened = local.newManager()->openContainerById(kId, recorder);
    ASSERT_TRUE(local.runUntilEvents(*recorder, 4));
    EXPECT_EQ(recorder->events(), std::vector<std::string>({"begin saved", "failure 1 saved",
                                                            "begin network", "success network"}));
    EXPECT_EQ(ContainerServer::parameter(local.server().fetches()[0], "pv"), "<absent>");
    EXPECT_EQ(opened->stringForKey("greeting"), "fetched");
    opened->close();
  }
}

TEST_F(ContainerLoadingTest, ASavedCopyArrivingAfterAFetchIsNotApplied) {
  // A saved copy 13 hours old: applied, then an immediate fetch.
  const double now = env.platform().clock().nowMillis();
  env.writeSavedFile(kId, savedCopyBytes(constantResource("5", {{"greeting", "saved"}}), "fp-5",
                                         static_cast<std::int64_t>(now - 13 * kHour * 1000)));
  open(4);
  EXPECT_EQ(callback->events(), std::vector<std::string>({"begin saved", "success saved",
                                                          "begin network", "success network"}));
  EXPECT_EQ(ContainerServer::parameter(env.server().fetches()[0], "pv"), "fp-5");
  EXPECT_EQ(container->stringForKey("greeting"), "fetched");
}

TEST_F(ContainerLoadingTest, RefreshGoesThroughTheTokenBucket) {
  open(4);
  ASSERT_EQ(env.server().fetchCount(), 1u);
  container->refresh();  // the first is always accepted
  EXPECT_TRUE(env.runUntilEvents(*callback, 6));
  EXPECT_TRUE(env.log().contains("Container refresh requested."));
  env.platform().advanceAndRun(1);
  container->refresh();  // within 5 seconds
  env.platform().runUntilIdle();
  EXPECT_TRUE(env.log().contains("Container refresh was called too often. Ignored."));
  EXPECT_EQ(env.server().fetchCount(), 2u);
  env.platform().advanceAndRun(5);
  container->refresh();
  EXPECT_TRUE(env.runUntilEvents(*callback, 8));
  EXPECT_EQ(env.server().fetchCount(), 3u);
}

TEST_F(ContainerLoadingTest, ThirtyRefreshesEmptyTheBucketAndFifteenMinutesEarnOneMore) {
  open(4);
  std::size_t events = 4;
  for (int i = 0; i < 30; ++i) {
    container->refresh();
    events += 2;
    ASSERT_TRUE(env.runUntilEvents(*callback, events)) << "refresh " << i;
    env.platform().advanceAndRun(5);
  }
  EXPECT_EQ(env.server().fetchCount(), 31u);
  container->refresh();
  env.platform().runUntilIdle();
  EXPECT_EQ(env.log().count("Container refresh was called too often. Ignored."), 1);
  // Earned over the time since the last accepted refresh, which was 5 seconds ago.
  env.platform().advanceAndRun(15 * 60 - 5 - 1);
  container->refresh();
  env.platform().runUntilIdle();
  EXPECT_EQ(env.log().count("Container refresh was called too often. Ignored."), 2);
  env.platform().advanceAndRun(1);
  container->refresh();
  EXPECT_TRUE(env.runUntilEvents(*callback, events + 2));
  EXPECT_EQ(env.server().fetchCount(), 32u);
}

TEST_F(ContainerLoadingTest, CloseStopsThePendingFetchAndDropsLateResults) {
  open(4);
  container->close();
  env.platform().advanceAndRun(13 * kHour);
  EXPECT_EQ(env.server().fetchCount(), 1u);
  EXPECT_EQ(env.platform().mainLoop().pendingTimers(), 0u);

  // A saved copy read, and a fetch answered, after the container closed change nothing.
  callback = std::make_shared<RecordingCallback>();
  manager = env.newManager();
  container = manager->openContainerById(kId, callback);
  container->close();  // before the background read has run
  env.platform().runUntilIdle();
  EXPECT_EQ(callback->count(), 0u);
  EXPECT_EQ(container->runtime(), nullptr);
  EXPECT_EQ(container->stringForKey("greeting"), "");

  LocalHttpServer::Response held = ContainerServer::body(404, "");
  held.holdUntilReleased = true;
  env.server().enqueue(held);
  callback = std::make_shared<RecordingCallback>();
  container = manager->openContainerById(kId, callback);
  ASSERT_TRUE(env.runUntil([&] { return env.server().fetchCount() == 2; }));
  container->close();
  // (The test's server lets the held answer go when it is destroyed; the fetch was cancelled.)
  env.platform().advanceAndRun(2 * kHour);
  EXPECT_EQ(callback->events(),
            std::vector<std::string>({"begin saved", "success saved", "begin network"}));
  EXPECT_EQ(container->runtime(), nullptr);
}

TEST_F(ContainerLoadingTest, APreviewedContainerFetchesThePreviewAndSavesNothing) {
  env.writeSavedFile(
      kId, savedCopyBytes(constantResource("5", {{"greeting", "saved"}}), "fp-5",
                          static_cast<std::int64_t>(testing::FakeClock::kDefaultStartMillis)));
  ASSERT_TRUE(MOXPreviewManager::instance()->generatePreviewDataForUrl(
      std::string("loomset.c.app://preview/p?id=") + kId + "&wen_auth=secret&wen_preview=3"));
  open(4);
  EXPECT_EQ(callback->events(), std::vector<std::string>({"begin saved", "failure 0 saved",
                                                          "begin network", "success network"}));
  EXPECT_EQ(env.server().fetches()[0].target,
            std::string("/r?id=") + kId + "&wen_auth=secret&wen_preview=3&v=i107577340");
  env.platform().runUntilIdle();
  EXPECT_EQ(savedCopy()->supplemented_resource().fingerprint(), "fp-5");
}

}  // namespace
}  // namespace loomset
