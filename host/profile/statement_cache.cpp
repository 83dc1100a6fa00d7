#include "host/profile/statement_cache.h"

#include <sqlite3.h>

namespace vask::host {

sqlite3_stmt* StatementCache::Take(sqlite3* db, const char* sql) {
  ++uses_;
  auto it = kept_.find(std::string_view(sql));
  if (it != kept_.end() && it->second.stmt) {
    sqlite3_stmt* stmt = it->second.stmt;
    it->second.stmt = nullptr;
    it->second.lastUse = uses_;
    return stmt;
  }
  // Persistent: the statement lives long, so SQLite keeps it out of the
  // small allocations it reserves for short-lived ones. A statement made
  // this way is prepared again by SQLite itself when the schema changes.
  sqlite3_stmt* stmt = nullptr;
  ++prepared_;
  if (sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) != SQLITE_OK) {
    return nullptr;  // SQLite leaves stmt null on failure
  }
  return stmt;
}

void StatementCache::Give(const char* sql, sqlite3_stmt* stmt, bool reusable) {
  if (!stmt) return;
  // The reset also ends a read that stopped before its last row, which
  // would otherwise hold its snapshot of the file until the next use.
  if (!reusable || sqlite3_reset(stmt) != SQLITE_OK || capacity_ == 0) {
    sqlite3_finalize(stmt);
    return;
  }
  sqlite3_clear_bindings(stmt);
  auto it = kept_.find(std::string_view(sql));
  if (it == kept_.end()) {
    if (kept_.size() >= capacity_) MakeRoom();
    it = kept_.emplace(sql, Kept{}).first;
    it->second.lastUse = ++uses_;
  } else if (it->second.stmt) {
    // A nested use of the same text: one copy is enough.
    sqlite3_finalize(stmt);
    return;
  }
  it->second.stmt = stmt;
}

void StatementCache::MakeRoom() {
  auto oldest = kept_.begin();
  for (auto it = kept_.begin(); it != kept_.end(); ++it) {
    if (it->second.lastUse < oldest->second.lastUse) oldest = it;
  }
  if (oldest == kept_.end()) return;
  sqlite3_finalize(oldest->second.stmt);  // null (in use) finalizes nothing
  kept_.erase(oldest);
}

void StatementCache::Clear() {
  for (auto& [sql, kept] : kept_) sqlite3_finalize(kept.stmt);
  kept_.clear();
}

}  // namespace vask::host
