// The prepared statements one SQLite connection keeps for reuse, by their
// SQL text: the host reads the same few cells every few seconds, and
// parsing their SQL each time cost more than running it. Not thread-safe:
// the connection's owner guards it with the connection's own lock, and
// empties it (Clear) before closing the connection.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace vask::host {

class StatementCache {
 public:
  static constexpr size_t kDefaultCapacity = 64;

  explicit StatementCache(size_t capacity = kDefaultCapacity) : capacity_(capacity) {}
  // Finalizes what it keeps; the connection must still be open.
  ~StatementCache() { Clear(); }
  StatementCache(const StatementCache&) = delete;
  StatementCache& operator=(const StatementCache&) = delete;

  // The kept statement for `sql` (reset, no bindings), else a newly prepared
  // one: also when the kept one is in use by an outer caller. Null when the
  // prepare failed (the connection's error says why) or `sql` holds no
  // statement. The caller hands it back with Give.
  sqlite3_stmt* Take(sqlite3* db, const char* sql);
  // Takes back a statement got from Take for the same `sql`. One that
  // failed (`reusable` false), or a second copy of a text already kept, or
  // one that does not reset cleanly is finalized; the others are reset and
  // kept, the least recently used text making room when the cache is full.
  void Give(const char* sql, sqlite3_stmt* stmt, bool reusable);
  // Finalizes every kept statement. Call while none taken is in use: before
  // the connection closes, so that the close succeeds.
  void Clear();

  // How many statements it prepared since it was made: a cache that works
  // prepares each text once.
  uint64_t prepared() const { return prepared_; }

 private:
  struct Kept {
    sqlite3_stmt* stmt = nullptr;  // null while a caller holds it
    uint64_t lastUse = 0;
  };

  void MakeRoom();

  size_t capacity_;
  // std::less<> looks a text up without copying it into a std::string.
  std::map<std::string, Kept, std::less<>> kept_;
  uint64_t uses_ = 0;
  uint64_t prepared_ = 0;
};

}  // namespace vask::host
