// Helpers for the tests of the SQLite data-layer store: a fixture with a fake platform (fake
// clock, temporary data root, background work on the manual main loop), and direct access to the
// database file, as another version of the library would have written it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Library/Util/sqlite/SqliteDatabase.h"
#include "datalayer/MOXDataLayerPersistentStoreImpl.h"
#include "loomset/MOXDataLayer.h"
#include "support/RecordingLogger.h"
#include "support/ScopedPlatform.h"

namespace loomset::testing {

// Keeps what a load hands back.
class LoadRecorder : public MOXDataLayerPersistentStoreCallback {
 public:
  void onKeyValuesLoaded(const std::vector<MOXKeyValue>& keyValues) override { loaded = keyValues; }
  std::optional<std::vector<MOXKeyValue>> loaded;
};

// One row of the table as the file holds it.
struct StoredRow {
  std::string key;
  std::string keyType;  // SQLite's typeof(key)
  std::int64_t expires;
};

class DataLayerStoreTest : public ::testing::Test {
 protected:
  std::shared_ptr<MOXDataLayerPersistentStoreImpl> makeStore(
      std::uint64_t maxItems = MOXDataLayerPersistentStoreImpl::kDefaultMaxNumStoredItems) {
    return std::make_shared<MOXDataLayerPersistentStoreImpl>(
        MOXDataLayerPersistentStoreImpl::kDefaultDatabaseName, maxItems, nullptr,
        platform_.platform());
  }
  std::string databasePath() const { return platform_.dataRoot() + "/Library/orvex_loomset.db"; }

  // Runs everything queued, then loads and runs the load.
  std::vector<MOXKeyValue> load(MOXDataLayerPersistentStore& store) {
    auto recorder = std::make_shared<LoadRecorder>();
    store.loadSaved(recorder);
    platform_.runUntilIdle();
    EXPECT_TRUE(recorder->loaded.has_value());
    return recorder->loaded.value_or(std::vector<MOXKeyValue>());
  }
  static std::vector<std::string> keys(const std::vector<MOXKeyValue>& keyValues) {
    std::vector<std::string> out;
    for (const auto& keyValue : keyValues) out.push_back(keyValue.key());
    return out;
  }

  // Opens the file directly (creating the table as the store does).
  SqliteDatabase openFile() const;
  void execute(const std::string& sql) const;
  // Writes a row as an older version did: the key bound as text.
  void insertRowAsText(const std::string& key, const std::string& value, std::int64_t expires);
  std::vector<StoredRow> rows() const;
  std::vector<std::string> storedKeys() const;

  ScopedPlatform platform_;
  ScopedRecordingLogger log_;
};

}  // namespace loomset::testing
