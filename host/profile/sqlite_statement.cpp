#include "host/profile/sqlite_statement.h"

#include <sqlite3.h>

#include "host/profile/statement_cache.h"

namespace vask::host {

Statement::Statement(sqlite3* db, const char* sql) : db_(db) {
  if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK || !stmt_) Fail();
}

Statement::Statement(sqlite3* db, StatementCache& cache, const char* sql)
    : db_(db), cache_(&cache), sql_(sql), stmt_(cache.Take(db, sql)) {
  if (!stmt_) Fail();
}

Statement::~Statement() {
  if (cache_) {
    cache_->Give(sql_, stmt_, !failed_);
  } else {
    sqlite3_finalize(stmt_);
  }
}

Statement& Statement::Int(int index, int64_t value) {
  if (!failed_ && sqlite3_bind_int64(stmt_, index, value) != SQLITE_OK) Fail();
  return *this;
}

Statement& Statement::Blob(int index, std::string_view value) {
  if (!failed_ && sqlite3_bind_blob(stmt_, index, value.data(), static_cast<int>(value.size()),
                                    SQLITE_TRANSIENT) != SQLITE_OK) {
    Fail();
  }
  return *this;
}

bool Statement::Step() {
  if (failed_) return false;
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc != SQLITE_DONE) Fail();
  return false;
}

bool Statement::Run() {
  Step();
  return !failed_;
}

int64_t Statement::ColumnInt(int index) { return sqlite3_column_int64(stmt_, index); }

bool Statement::ColumnIsNull(int index) { return sqlite3_column_type(stmt_, index) == SQLITE_NULL; }

bool Statement::ColumnIsText(int index) {
  int t = sqlite3_column_type(stmt_, index);
  return t == SQLITE_BLOB || t == SQLITE_TEXT;
}

std::string Statement::ColumnText(int index) {
  const void* data = sqlite3_column_blob(stmt_, index);
  int size = sqlite3_column_bytes(stmt_, index);
  return data ? std::string(static_cast<const char*>(data), static_cast<size_t>(size)) : "";
}

void Statement::Fail() {
  failed_ = true;
  code_ = sqlite3_errcode(db_) & 0xFF;  // the primary code (not a host number)
  message_ = sqlite3_errmsg(db_);
}

}  // namespace vask::host
