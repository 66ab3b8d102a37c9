#include "datalayer/StoreTransaction.h"

#include <utility>

namespace loomset::datalayer {

void StoreTransaction::begin() {
  if (open_) return;
  // Without a transaction the writes simply run on their own, as they would anyway.
  open_ = db_.execute("BEGIN IMMEDIATE").ok();
  if (open_) ++serial_;
}

SqliteStatus StoreTransaction::bindAndRun(SqliteStatement& statement,
                                          const std::vector<WriteParam>& params) {
  statement.reset();
  statement.clearBindings();
  SqliteStatus status;
  for (std::size_t i = 0; i < params.size() && status.ok(); ++i) {
    const int index = static_cast<int>(i) + 1;
    if (const auto* number = std::get_if<std::int64_t>(&params[i])) {
      status = statement.bindInt64(index, *number);
    } else {
      status = statement.bindBlob(index, std::get<std::string>(params[i]));
    }
  }
  if (status.ok()) status = statement.run();
  statement.reset();
  return status;
}

SqliteStatus StoreTransaction::write(int kind, SqliteStatement& statement, const std::string& sql,
                                     std::vector<WriteParam> params) {
  SqliteStatus status = bindAndRun(statement, params);
  if (!open_) return status;
  if (status.ok()) {
    for (const WriteParam& param : params) {
      if (const auto* bytes = std::get_if<std::string>(&param)) bytes_ += bytes->size();
    }
    bytes_ += sql.size() + 8 * params.size();
    journal_.push_back(RecordedWrite{kind, sql, std::move(params)});
    return status;
  }
  if (db_.inTransaction()) return status;  // only this statement failed; the rest stands
  replayOutsideTransaction();
  return bindAndRun(statement, params);
}

void StoreTransaction::commit() {
  if (!open_) return;
  if (db_.execute("COMMIT").ok()) {
    forget();
    return;
  }
  if (db_.inTransaction()) db_.execute("ROLLBACK");
  replayOutsideTransaction();
}

void StoreTransaction::replayOutsideTransaction() {
  std::vector<RecordedWrite> journal = std::move(journal_);
  forget();
  for (const RecordedWrite& write : journal) {
    SqliteStatus status;
    SqliteStatement statement = db_.prepare(write.sql, &status);
    if (statement) status = bindAndRun(statement, write.params);
    if (!status.ok() && onReplayFailure_) onReplayFailure_(write, status);
  }
}

void StoreTransaction::forget() {
  open_ = false;
  journal_.clear();
  bytes_ = 0;
}

}  // namespace loomset::datalayer
