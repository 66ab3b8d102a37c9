#include "analytics/PLUSqlStore.h"

#include <sqlite3.h>

namespace loomset {

// Interim stub: the full implementation follows.
std::shared_ptr<PLUSqlStore> PLUSqlStore::sharedInstance() {
  return nullptr;
}
std::string PLUSqlStore::databaseDirectoryPath() {
  return {};
}
std::shared_ptr<PLUSqlStore> PLUSqlStore::create(const std::string& name) {
  return create(name, databaseDirectoryPath());
}
std::shared_ptr<PLUSqlStore> PLUSqlStore::create(const std::string& name,
                                                 const std::string& directory) {
  if (name.empty() || directory.empty()) return nullptr;
  return std::shared_ptr<PLUSqlStore>(new PLUSqlStore(name, directory + "/" + name));
}
PLUSqlStore::PLUSqlStore(std::string name, std::string path)
    : databaseName_(std::move(name)), databasePath_(std::move(path)) {}
PLUSqlStore::~PLUSqlStore() {
  closeDatabase();
}
bool PLUSqlStore::ensureOpenDatabase() {
  return false;
}
bool PLUSqlStore::openAndValidateDatabase() {
  return false;
}
void PLUSqlStore::closeDatabase() {}
bool PLUSqlStore::closeAndDeleteDatabase() {
  return false;
}
bool PLUSqlStore::tableExists(const std::string&) {
  return false;
}
bool PLUSqlStore::dropTableWithName(const std::string&) {
  return false;
}
std::int64_t PLUSqlStore::rowCountForTableWithName(const std::string&) {
  return 0;
}
sqlite3_stmt* PLUSqlStore::prepareSql(const std::string&) {
  return nullptr;
}
int PLUSqlStore::executeSql(const std::string&) {
  return SQLITE_ERROR;
}
sqlite3_stmt* PLUSqlStore::statementForQuery(const std::string&) {
  return nullptr;
}
void PLUSqlStore::setStatement(sqlite3_stmt*, const std::string&) {}
void PLUSqlStore::removeStatementForQuery(const std::string&) {}
void PLUSqlStore::finalizeAndClearStatements() {}
std::optional<std::string> PLUSqlStore::errorMessage() const {
  return std::nullopt;
}
std::shared_ptr<void> PLUSqlStore::addDidOpenDatabaseObserver(OpenObserver) {
  return nullptr;
}
bool PLUSqlStore::isFileImmutable(const std::string&, std::string*) {
  return false;
}
bool PLUSqlStore::clearFileImmutable(const std::string&, std::string*) {
  return true;
}
void PLUSqlStore::postDidOpenDatabase() {}

}  // namespace loomset
