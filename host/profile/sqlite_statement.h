// One prepared SQLite statement, finalized on scope exit, or taken from a
// connection's StatementCache and given back to it. Every SQLite call's
// result is checked: the first failure (prepare, bind or step) is kept with
// SQLite's own message, and a failed statement runs no further.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace vask::host {

class StatementCache;

class Statement {
 public:
  // Prepared for this use alone.
  Statement(sqlite3* db, const char* sql);
  // The cache's statement for `sql` on `db` (the cache belongs to `db`);
  // `sql` must outlive the statement.
  Statement(sqlite3* db, StatementCache& cache, const char* sql);
  // Finalizes, or gives the statement back to its cache. A failed step makes
  // finalize repeat its error: it was kept already.
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& Int(int index, int64_t value);
  Statement& Blob(int index, std::string_view value);
  // True with the next row; false at the end and on failure (failed() says
  // which).
  bool Step();
  // A statement run for its effect: false when it failed.
  bool Run();

  bool failed() const { return failed_; }
  int code() const { return code_; }  // SQLite's primary result code of the failure
  const std::string& message() const { return message_; }

  int64_t ColumnInt(int index);
  bool ColumnIsNull(int index);
  bool ColumnIsText(int index);
  std::string ColumnText(int index);

 private:
  void Fail();

  sqlite3* db_;
  StatementCache* cache_ = nullptr;
  const char* sql_ = nullptr;  // the cache's key, when cache_ is set
  sqlite3_stmt* stmt_ = nullptr;
  bool failed_ = false;
  int code_ = 0;  // SQLITE_OK
  std::string message_;
};

}  // namespace vask::host
