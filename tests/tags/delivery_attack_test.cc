// Hostile and careless input to the tags that deliver hits: odd pixel URLs and parameters, odd
// unrepeatable ids, a pixel store file that is not what it should be, and malformed commerce data.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Library/Util/sqlite/SqliteDatabase.h"
#include "foundation/MOXPropertyListUtil.h"
#include "loomset/Collections.h"
#include "loomset/Exceptions.h"
#include "loomset/MOXTypes.h"
#include "loomset/Objects.h"
#include "support/PLURecording.h"
#include "support/RecordingLogger.h"
#include "support/RuntimeTestSupport.h"
#include "support/ScopedPlatform.h"
#include "tags/MOXArbitraryPixel.h"
#include "tags/MOXDataProvider.h"
#include "tags/MOXDispatcher.h"
#include "tags/MOXHitTable.h"
#include "tags/MOXQuorra.h"

namespace loomset {
namespace {

using namespace testing;

class RecordingNetwork : public MOXPixelNetwork {
 public:
  explicit RecordingNetwork(std::shared_ptr<EventLoop> worker) : worker_(std::move(worker)) {}
  bool isReachable() const override { return true; }
  void sendURL(const std::string& url, Completion completion) override {
    urls.push_back(url);
    worker_->post([completion] { completion({200, false}); });
  }
  std::vector<std::string> urls;

 private:
  std::shared_ptr<EventLoop> worker_;
};

class PixelAttackTest : public ::testing::Test {
 protected:
  PixelAttackTest() { restart(); }
  ~PixelAttackTest() override {
    MOXDispatcher::clearInstance();
    MOXArbitraryPixel::clearCache();
    platform_.runUntilIdle();
  }
  void restart() {
    platform_.runUntilIdle();
    MOXDispatcher::clearInstance();
    MOXArbitraryPixel::clearCache();
    network_ = std::make_shared<RecordingNetwork>(platform_.platform()->mainLoop);
    MOXPixelNetwork::setDefaultFactory([network = network_] { return network; });
  }
  void fire(std::vector<std::pair<std::string, ValuePtr>> arguments) {
    MOXParameterMap map;
    map.append("function", fnValue("_img"));
    for (auto& [key, value] : arguments) map.append(key, value);
    tag_.evaluate(map);
  }
  std::vector<std::string> dispatchAll() {
    auto dispatcher = MOXDispatcher::instance();
    platform_.runUntilIdle();
    dispatcher->dispatch();
    platform_.runUntilIdle();
    return network_->urls;
  }

  ScopedPlatform platform_{[](Platform& p) { p.containerWorker = p.mainLoop; }};
  std::shared_ptr<RecordingNetwork> network_;
  MOXArbitraryPixel tag_;
};

// URLs that are not URLs, with NUL bytes and newlines, and a megabyte long, go out byte for byte.
TEST_F(PixelAttackTest, OddUrlsAreStoredAndSentVerbatim) {
  const std::string withNul("http://px.example/a\0b\nc", 24);
  const std::string huge = "http://px.example/" + std::string(1 << 20, 'z');
  fire({{"url", strValue("not a url")}});
  fire({{"url", strValue(withNul)}});
  fire({{"url", strValue(huge)}});
  const auto sent = dispatchAll();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0], "not a url");
  EXPECT_EQ(sent[1], withNul);
  EXPECT_EQ(sent[2].size(), huge.size());
  EXPECT_EQ(sent[2], huge);
}

TEST_F(PixelAttackTest, AnEmptyOrMissingUrlDoesNotCrash) {
  fire({{"url", strValue("")}});
  fire({});
  EXPECT_NO_FATAL_FAILURE(dispatchAll());
}

// Keys and values that are not strings are written as text; thousands of entries all arrive.
TEST_F(PixelAttackTest, AdditionalParamsOfAnyShapeAreEscaped) {
  fire({{"url", strValue("http://px.example/a")},
        {"additional_params",
         listValue({mapValue({{intValue(7), boolValue(true)},
                              {strValue("n"), mapValue({{strValue("x"), listValue({})}})},
                              {strValue("nl"), strValue(std::string("a\n\0b", 4))}})})}});
  MOXPValue many;
  many.set_type(MOXPValue::Map);
  for (int i = 0; i < 3000; ++i) {
    *many.add_map_key() = *strValue("k" + std::to_string(i));
    *many.add_map_value() = *strValue(std::to_string(i));
  }
  MOXPValue list;
  list.set_type(MOXPValue::List);
  *list.add_list_item() = many;
  fire({{"url", strValue("http://px.example/b")},
        {"additional_params", std::make_shared<MOXPValue>(list)}});
  const auto sent = dispatchAll();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].find('\n'), std::string::npos);
  EXPECT_EQ(sent[0].find('\0'), std::string::npos);
  EXPECT_EQ(sent[0].rfind("http://px.example/a?7=true&n=", 0), 0u) << sent[0];
  EXPECT_NE(sent[0].find("&nl=a%0A%00b"), std::string::npos) << sent[0];
  EXPECT_EQ(sent[1].rfind("http://px.example/b?k0=0&k1=1&", 0), 0u);
  EXPECT_NE(sent[1].find("&k2999=2999"), std::string::npos);
}

// Ids with markup characters, control characters, or a huge length are remembered across a
// restart like any other.
TEST_F(PixelAttackTest, OddUnrepeatableIdsSurviveARestart) {
  const std::vector<std::string> ids = {"<a>&amp;\"'", "tab\there\nline", "\x01\x1f\x7f",
                                        std::string(100000, 'i')};
  for (std::size_t i = 0; i < ids.size(); ++i) {
    fire({{"url", strValue("http://px.example/" + std::to_string(i))},
          {"unrepeatable", strValue(ids[i])}});
  }
  ASSERT_EQ(dispatchAll().size(), ids.size());
  restart();
  for (std::size_t i = 0; i < ids.size(); ++i) {
    EXPECT_TRUE(MOXArbitraryPixel::idProcessed(ids[i])) << i;
  }
  for (std::size_t i = 0; i < ids.size(); ++i) {
    fire({{"url", strValue("http://px.example/again")}, {"unrepeatable", strValue(ids[i])}});
  }
  EXPECT_TRUE(dispatchAll().empty());
}

// FAULT (not fixed): an id holding a NUL byte or bytes that are not UTF-8 is remembered in memory
// but does not come back from the property-list file, so after a restart the "unrepeatable"
// pixel is sent again.
TEST_F(PixelAttackTest, DISABLED_IdsWithNulOrInvalidUtf8SurviveARestart) {
  const std::vector<std::string> ids = {std::string("x\0y", 3), "\xff\xfe"};
  for (std::size_t i = 0; i < ids.size(); ++i) {
    fire({{"url", strValue("http://px.example/" + std::to_string(i))},
          {"unrepeatable", strValue(ids[i])}});
  }
  ASSERT_EQ(dispatchAll().size(), ids.size());
  restart();
  for (std::size_t i = 0; i < ids.size(); ++i) {
    EXPECT_TRUE(MOXArbitraryPixel::idProcessed(ids[i])) << i;
  }
  for (std::size_t i = 0; i < ids.size(); ++i) {
    fire({{"url", strValue("http://px.example/again")}, {"unrepeatable", strValue(ids[i])}});
  }
  EXPECT_TRUE(dispatchAll().empty());
}

// A damaged id file costs nothing but the ids: pixels still go out.
TEST_F(PixelAttackTest, AGarbageIdFileIsIgnored) {
  MOXPropertyListUtil::writePropertyListAsync(MOXArbitraryPixel::kUnrepeatableFile,
                                              obj::array({obj::str("x")}));
  platform_.runUntilIdle();
  restart();
  fire({{"url", strValue("http://px.example/1")}, {"unrepeatable", strValue("one")}});
  fire({{"url", strValue("http://px.example/1")}, {"unrepeatable", strValue("one")}});
  EXPECT_EQ(dispatchAll(), std::vector<std::string>{"http://px.example/1"});
}

// ---- The pixel store -------------------------------------------------------------------------

class StoreAttackTest : public ::testing::Test {
 protected:
  std::shared_ptr<MOXDataProvider> openStore() {
    MOXDataProvider::Options options;
    options.path = path();
    options.worker = platform_.platform()->mainLoop;
    auto store = MOXDataProvider::create(options);
    platform_.runUntilIdle();
    return store;
  }
  std::string path() const { return platform_.dataRoot() + "/Library/WEN.sql"; }
  std::vector<MOXHit> fetch(MOXDataProvider& store) {
    std::vector<MOXHit> found;
    store.fetchHitsWithLimit(0, [&](std::vector<MOXHit> hits) { found = std::move(hits); });
    platform_.runUntilIdle();
    return found;
  }
  void makeLibrary() {
    platform_.platform()->fileSystem->createDirectories(platform_.dataRoot() + "/Library");
  }
  void execute(const std::string& sql) {
    SqliteDatabase db;
    ASSERT_TRUE(db.open(path()).ok());
    ASSERT_TRUE(db.execute(sql).ok()) << sql;
    db.close();
  }

  ScopedPlatform platform_;
};

TEST_F(StoreAttackTest, ADirectoryInPlaceOfTheFileGivesAStoreThatDoesNothing) {
  platform_.platform()->fileSystem->createDirectories(path());
  auto store = openStore();
  store->addHitWithURLString("http://a/1");
  platform_.runUntilIdle();
  EXPECT_TRUE(fetch(*store).empty());
  store->onExit();
  EXPECT_TRUE(platform_.platform()->fileSystem->exists(path()));
}

TEST_F(StoreAttackTest, GarbageBytesAreReplacedByAWorkingStore) {
  makeLibrary();
  std::string garbage;
  for (int i = 0; i < 8192; ++i) garbage += static_cast<char>((i * 131 + 7) & 0xff);
  ASSERT_TRUE(platform_.platform()->fileSystem->writeFileAtomically(path(), garbage));
  auto store = openStore();
  store->addHitWithURLString("http://a/1");
  platform_.runUntilIdle();
  EXPECT_EQ(fetch(*store).size(), 1u);
}

// Rows written by someone else with NULLs and values of the wrong type are read, and the limits
// do not delete hits that are within them.
TEST_F(StoreAttackTest, RowsOfTheWrongTypesAreReadAndKept) {
  makeLibrary();
  execute(
      "CREATE TABLE MOXHit (id INTEGER PRIMARY KEY AUTOINCREMENT, dispatchURL TEXT, timestamp "
      "REAL, dispatchTime REAL, retryCount INTEGER, lastDispatchTime REAL);"
      "INSERT INTO MOXHit (dispatchURL, timestamp, dispatchTime, retryCount) VALUES "
      "(NULL, NULL, NULL, NULL), (42, 'soon', x'00ff', 'many'), (x'68690068', 1e300, -1, "
      "99999999999)");
  auto store = openStore();
  auto hits = fetch(*store);
  ASSERT_EQ(hits.size(), 3u);
  store->addHitWithURLString("http://a/new");
  store->save();
  platform_.runUntilIdle();
  hits = fetch(*store);
  EXPECT_EQ(hits.size(), 4u);
  store->deleteHits(hits);
  platform_.runUntilIdle();
  EXPECT_TRUE(fetch(*store).empty());
}

// A table of the right name without the columns every hit needs is unusable: the file is
// replaced, so new hits are kept (the store used to stay without a table and keep nothing).
TEST_F(StoreAttackTest, ATableMissingColumnsIsReplacedAndHitsAreKept) {
  makeLibrary();
  execute("CREATE TABLE MOXHit (id INTEGER PRIMARY KEY, dispatchURL TEXT)");
  auto store = openStore();
  store->addHitWithURLString("http://a/1");
  store->save();
  platform_.runUntilIdle();
  EXPECT_EQ(fetch(*store).size(), 1u);
  store->onExit();
}

// ---- The analytics tag -----------------------------------------------------------------------

class QuorraAttackTest : public ::testing::Test {
 protected:
  QuorraAttackTest() : dataLayer_(MOXDataLayer::create()), tag_(dataLayer_) {}
  void fire(std::vector<std::pair<std::string, ValuePtr>> arguments) {
    MOXParameterMap map;
    map.append("function", fnValue("_qr"));
    for (auto& [key, value] : arguments) map.append(key, value);
    tag_.evaluate(map);
  }
  std::vector<PLUHitMap> hits() const { return facade_.dispatcher().hits(); }

  PLUTestFacade facade_;
  ScopedRecordingLogger log_;
  std::shared_ptr<MOXDataLayer> dataLayer_;
  MOXQuorra tag_;
};

TEST_F(QuorraAttackTest, TransactionFieldsOfTheWrongTypes) {
  using namespace obj;
  dataLayer_->push(dict({{"transactionId", dict({{"a", str("b")}})},
                         {"transactionTotal", array({str("1")})},
                         {"transactionProducts", array({dict({{"name", dict({})},
                                                              {"price", dict({{"x", i64(1)}})},
                                                              {"quantity", array({})}})})}}));
  fire({{"track_transaction", boolValue(true)},
        {"account", mapValue({})},
        {"transaction_datalayer_map", listValue({strValue("x")})},
        {"analytics_fields", intValue(5)}});
  EXPECT_EQ(hits().size(), 2u);
}

TEST_F(QuorraAttackTest, AHugeProductListAndHugeDimensionNumbers) {
  using namespace obj;
  std::vector<ObjectPtr> products;
  for (int i = 0; i < 5000; ++i) {
    products.push_back(dict({{"id", str("P" + std::to_string(i))},
                             {"price", dict({})},
                             {"quantity", str("NaN")},
                             {"dimension99999999999999999999999", str("x")},
                             {"metric18446744073709551615", str("1e400")}}));
  }
  dataLayer_->push(
      dict({{"ecommerce", dict({{"purchase", dict({{"products", Array::create(products)},
                                                   {"actionField", str("no")}})}})}}));
  fire({{"enable_ecommerce", boolValue(true)}, {"ecommerce_use_data_layer", boolValue(true)}});
  ASSERT_EQ(hits().size(), 1u);
  EXPECT_EQ(hits()[0].count("&pa"), 1u);
}

TEST_F(QuorraAttackTest, CommerceListsWithNullsAreRejectedAsMalformed) {
  MOXPValue list;
  list.set_type(MOXPValue::List);
  *list.add_list_item() = *mapValue({{strValue("id"), strValue("P")}});
  list.add_list_item();  // a default value in the list
  // A malformed list leaves the tag with the exception, as the other malformed lists do.
  EXPECT_THROW(
      fire(
          {{"enable_ecommerce", boolValue(true)},
           {"ecommerce_macro_data",
            mapValue({{strValue("ecommerce"), mapValue({{strValue("impressions"),
                                                         std::make_shared<MOXPValue>(list)}})}})}}),
      IllegalArgumentException);
  EXPECT_TRUE(hits().empty());
}

}  // namespace
}  // namespace loomset
