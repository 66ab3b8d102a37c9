// The queue between the trackers and the dispatcher's worker: a burst of hits larger than the
// store's limit ends as the store would have ended with the same hits taken one by one, while the
// queue holds only what the store could keep; and a packed model builds the hit the model builds.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "analytics/dispatch/PLUPackedModel.h"
#include "analytics/model/PLUModelEnvironment.h"
#include "analytics/model/PLUTrackerModel.h"
#include "loomset/PLUFields.h"
#include "support/PLUCollector.h"

namespace loomset {
namespace {

using testing::PLUDispatcherHarness;

constexpr std::uint32_t kLimit = 30;  // the store's hit limit in these tests
constexpr int kBurst = 200;

class Trackers {
 public:
  explicit Trackers(PLUDispatcherHarness& h)
      : h_(h),
        environment_(PLUModelEnvironment::create(h.platform().platform(), nullptr)),
        store_(std::shared_ptr<PLUDataStore>(std::shared_ptr<PLUDataStore>(), &h.store())) {}

  PLUTrackerModel event(int n, const std::string& trackingId = "UA-1") const {
    PLUTrackerModel model(store_, environment_);
    model.setValue(trackingId, kPLUTrackingId);
    return model.copyWithOverride({{kPLUHitType, std::string("event")},
                                   {kPLUEventCategory, std::string("video")},
                                   {kPLUEventLabel, std::to_string(n)}});
  }

 private:
  PLUDispatcherHarness& h_;
  std::shared_ptr<const PLUModelEnvironment> environment_;
  std::shared_ptr<PLUDataStore> store_;  // the harness's, not owned
};

// Label and hit number of each stored hit, oldest first.
std::vector<std::pair<std::string, std::string>> storedLabelsAndNumbers(PLUDispatcherHarness& h) {
  std::vector<std::pair<std::string, std::string>> stored;
  for (const PLUStoredHit& hit : h.store().fetchHitsWithLimit(0)) {
    stored.emplace_back(hit.parameters.at(kPLUEventLabel).value_or("<null>"),
                        hit.parameters.at(kPLUHitNumber).value_or("<null>"));
  }
  return stored;
}

std::vector<std::pair<std::string, std::string>> labelsAndNumbers(int from, int to) {
  std::vector<std::pair<std::string, std::string>> expected;
  for (int n = from; n < to; ++n) expected.emplace_back(std::to_string(n), std::to_string(n));
  return expected;
}

TEST(PLUDispatcherQueue, BurstBeyondTheStoreLimitKeepsWhatTheStoreKeepsOneByOne) {
  PLUDispatcherHarness oneByOne;
  oneByOne.store().setMaxHitCount(kLimit);
  Trackers oneByOneTrackers(oneByOne);
  for (int n = 0; n < kBurst; ++n) {
    oneByOne.dispatcher().queueModel(oneByOneTrackers.event(n));
    oneByOne.worker().runUntilIdle();
  }

  PLUDispatcherHarness burst;
  burst.store().setMaxHitCount(kLimit);
  Trackers burstTrackers(burst);
  for (int n = 0; n < kBurst; ++n) burst.dispatcher().queueModel(burstTrackers.event(n));
  // Nothing ran yet: every hit waits, but only the first of the run (which a dispatch would send)
  // and the newest `kLimit` are held whole.
  EXPECT_EQ(burst.dispatcher().waitingHits(), static_cast<std::size_t>(kBurst));
  const std::size_t whole = kLimit + burst.dispatcher().tuning().maxHitsPerDispatch;
  EXPECT_EQ(burst.dispatcher().thinnedWaitingHits(), kBurst - whole);
  burst.worker().runUntilIdle();
  EXPECT_EQ(burst.dispatcher().waitingHits(), 0u);

  const auto expected = labelsAndNumbers(kBurst - static_cast<int>(kLimit), kBurst);
  EXPECT_EQ(storedLabelsAndNumbers(oneByOne), expected);
  EXPECT_EQ(storedLabelsAndNumbers(burst), expected);
}

// Hits the store will not keep still take their numbers, per tracking id, in the order handed
// over; and a dispatch asked for right after the burst sends the oldest hits, as it did when each
// hit was a task of its own on the worker.
TEST(PLUDispatcherQueue, DispatchAfterABurstSendsTheOldestHitsAndNumbersGoOn) {
  PLUDispatcherHarness h;
  h.store().setMaxHitCount(kLimit);
  Trackers trackers(h);
  for (int n = 0; n < kBurst; ++n) h.dispatcher().queueModel(trackers.event(n));
  EXPECT_EQ(h.dispatchAndWait(), kPLUDispatchSent);

  const auto requests = h.collector().requests();
  ASSERT_EQ(requests.size(), 1u);
  ASSERT_EQ(requests[0].hits.size(), 20u);
  for (int n = 0; n < 20; ++n) {
    EXPECT_EQ(requests[0].hits[static_cast<std::size_t>(n)].at("el"), std::to_string(n));
    EXPECT_EQ(requests[0].hits[static_cast<std::size_t>(n)].at("_s"), std::to_string(n));
  }
  EXPECT_EQ(storedLabelsAndNumbers(h), labelsAndNumbers(kBurst - static_cast<int>(kLimit), kBurst));

  // The next hit of the tracking id carries the number after the burst's last.
  h.dispatcher().queueModel(trackers.event(kBurst));
  h.worker().runUntilIdle();
  EXPECT_EQ(storedLabelsAndNumbers(h).back(),
            std::make_pair(std::to_string(kBurst), std::to_string(kBurst)));
}

// Another step between hits (here a dispatch) ends a run: hits before it are not thinned on
// account of hits after it.
TEST(PLUDispatcherQueue, OtherWorkBetweenHitsEndsTheRunThatHitsAreCountedIn) {
  PLUDispatcherHarness h;
  h.store().setMaxHitCount(kLimit);
  Trackers trackers(h);
  for (int n = 0; n < 40; ++n) h.dispatcher().queueModel(trackers.event(n));
  h.dispatcher().setDispatchInterval(5);
  for (int n = 40; n < 80; ++n) h.dispatcher().queueModel(trackers.event(n));
  EXPECT_EQ(h.dispatcher().thinnedWaitingHits(), 0u);
  h.worker().runUntilIdle();
  EXPECT_EQ(storedLabelsAndNumbers(h), labelsAndNumbers(80 - static_cast<int>(kLimit), 80));
}

TEST(PLUPackedModel, BuildsTheHitOfTheModelItPacked) {
  PLUDispatcherHarness h;
  Trackers trackers(h);
  PLUTrackerModel model = trackers.event(7, "UA-7");
  model.setValue(kPLUNullMarker, kPLUScreenResolution);  // masks a computed field
  model.setValue(std::string("x&y=z\n\1"), "&cd1");
  model.setValue(std::string(300, 'v'), "&cd2");  // lengths beyond one byte
  model.setAllowIDFACollection(true);
  const PLUPackedModel packed(model);

  PLUTrackerModel unpacked = packed.unpack();
  EXPECT_TRUE(unpacked.allowIDFACollection());
  EXPECT_EQ(unpacked.parameters(), model.parameters());
  PLUHitMap original = model.buildDictionary();
  PLUHitMap rebuilt = unpacked.buildDictionary();
  original.erase(kPLUCacheBuster);
  rebuilt.erase(kPLUCacheBuster);
  EXPECT_EQ(rebuilt, original);
  EXPECT_FALSE(packed.mayBeSampledOut());
}

TEST(PLUPackedModel, AThinnedModelNumbersAndSamplesAsTheWholeOne) {
  PLUDispatcherHarness h;
  Trackers trackers(h);
  PLUTrackerModel model = trackers.event(3, "UA-3");
  model.setValue(std::string("50"), kPLUSampleRate);
  model.setValue(std::string("user-1"), kPLUUserId);
  PLUPackedModel packed(model);
  EXPECT_TRUE(packed.mayBeSampledOut());
  packed.thin();

  const PLUHitMap whole = model.buildDictionary();
  const PLUHitMap thinned = packed.unpack().buildDictionary();
  for (const char* key : {kPLUTrackingId, kPLUClientId, kPLUSampleRate, kPLUUserId, kPLUAppName}) {
    EXPECT_EQ(thinned.at(key), whole.at(key)) << key;
  }
  EXPECT_EQ(thinned.count(kPLUEventLabel), 0u);
}

}  // namespace
}  // namespace loomset
