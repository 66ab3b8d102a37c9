// Hit numbering inside one burst on the worker, where every write shares one transaction and the
// store answers from what it already read and wrote: the numbers, the storage limit, a new client
// id, another connection's writes between bursts and a file removed mid-burst must all come out as
// they do write by write.
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "analytics/PLULog.h"
#include "analytics/store/PLUAnalyticsPropertiesStore.h"
#include "analytics/store/PLUSqlStore.h"
#include "loomset/platform/EventLoop.h"
#include "support/FakeClock.h"
#include "support/PLURecording.h"
#include "support/TempDir.h"

namespace loomset {
namespace {

class PLUPropertiesBurstTest : public ::testing::Test {
 protected:
  PLUPropertiesBurstTest() { plu_log::setSharedLogger(log_); }
  ~PLUPropertiesBurstTest() override {
    store_.reset();
    worker_->postAndWait([] {});
    plu_log::setSharedLogger(std::make_shared<PLUDefaultLogger>());
  }

  std::shared_ptr<PLUAnalyticsPropertiesStore> open(std::shared_ptr<EventLoop> worker) {
    return std::make_shared<PLUAnalyticsPropertiesStore>(
        PLUSqlStore::create("kestrel-aux-v4.sql", dir_.path()), clock_, std::move(worker));
  }

  // Runs `burst` as one task of the worker; its writes commit together afterwards.
  template <typename Burst>
  void onWorker(Burst burst) {
    worker_->postAndWait(burst);
    worker_->postAndWait([] {});  // the grouped commit has run
  }

  std::string next(const std::string& tid, const std::string& cid = "c1") {
    return store_->nextHitNumberForTrackingId(tid, cid).value_or("none");
  }

  testing::TempDir dir_;
  std::shared_ptr<testing::FakeClock> clock_ = std::make_shared<testing::FakeClock>();
  std::shared_ptr<testing::PLURecordingLogger> log_ =
      std::make_shared<testing::PLURecordingLogger>();
  std::shared_ptr<AsioEventLoop> worker_ = std::make_shared<AsioEventLoop>("PLUThread-burst");
  std::shared_ptr<PLUAnalyticsPropertiesStore> store_ = open(worker_);
};

TEST_F(PLUPropertiesBurstTest, NumbersNewClientIdsAndTheLimitComeOutAsWriteByWrite) {
  onWorker([&] {
    EXPECT_EQ(next("UA-1"), "0");
    EXPECT_EQ(next("UA-1"), "1");
    EXPECT_EQ(next("UA-2"), "0");
    EXPECT_EQ(next("UA-1"), "2");
    EXPECT_EQ(next("UA-2"), "1");
    // A new client id empties the table: every id starts over, also those read before.
    EXPECT_EQ(next("UA-2", "c2"), "0");
    EXPECT_EQ(next("UA-1", "c2"), "0");
    EXPECT_EQ(next("UA-2", "c2"), "1");
    // An id with a NUL is stored (and found) up to the NUL, as SQLite keeps it.
    EXPECT_EQ(next(std::string("UA-1\0x", 6), "c2"), "1");
  });
  // The committed rows are what a fresh store reads.
  EXPECT_EQ(open(nullptr)->nextHitNumberForTrackingId("UA-1", "c2"), "2");

  // Up to the limit in one burst: the count taken once must follow every new id.
  log_->clear();
  onWorker([&] {
    for (int i = 3; i <= 1000; ++i) ASSERT_EQ(next("UA-" + std::to_string(i), "c2"), "0") << i;
    EXPECT_TRUE(store_->isPropertiesTableFull());
    EXPECT_EQ(next("UA-new", "c2"), "none");
    EXPECT_EQ(next("UA-1", "c2"), "none");  // a full table refuses updates too
  });
  EXPECT_EQ(log_->count("Reached properties storage limit"), 2);
  EXPECT_EQ(store_->propertyRecordForTrackingId("UA-1")->hitNumber, 2);
}

TEST_F(PLUPropertiesBurstTest, AnotherConnectionsWritesBetweenBurstsAreSeen) {
  onWorker([&] {
    EXPECT_EQ(next("UA-1"), "0");
    EXPECT_EQ(next("UA-1"), "1");
  });
  // A second store on the same file (another tracker's process, say) numbers and adds ids.
  {
    auto other = open(nullptr);
    EXPECT_EQ(other->nextHitNumberForTrackingId("UA-1", "c1"), "2");
    for (int i = 2; i <= 999; ++i) {
      ASSERT_EQ(other->nextHitNumberForTrackingId("UA-" + std::to_string(i), "c1"), "0");
    }
  }
  onWorker([&] {
    EXPECT_EQ(next("UA-1"), "3");
    EXPECT_EQ(next("UA-1000"), "0");  // the thousandth id
    EXPECT_EQ(next("UA-1001"), "none");
  });
}

TEST_F(PLUPropertiesBurstTest, AFileRemovedMidBurstStartsNumberingOver) {
  onWorker([&] {
    EXPECT_EQ(next("UA-1"), "0");
    EXPECT_EQ(next("UA-1"), "1");
    ASSERT_EQ(::unlink(dir_.file("kestrel-aux-v4.sql").c_str()), 0);
    EXPECT_EQ(next("UA-1"), "0");
    EXPECT_EQ(next("UA-1"), "1");
  });
  EXPECT_EQ(open(nullptr)->nextHitNumberForTrackingId("UA-1", "c1"), "2");
}

}  // namespace
}  // namespace loomset
