// The stand-in host's tables in SQLite: settings (table 0, row 0), contacts
// (table 1, row 0 = the user's own entry), the columns defined for them, the
// ignore list and the message history.
//
// A profile file is ours when it carries our format mark; any other file
// (damaged, another program's database, one that cannot be written) is
// refused, never overwritten. Texts are stored as the plug-in's bytes.
//
// Every SQLite call is checked. A failed read or write returns failure (a
// write false, -1 or 0; a read the column's default) and is told to the
// failure listener with a Polish text for the user, so that nothing is
// lost silently. Thread-safe (one lock; the listener runs outside it).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/profile/statement_cache.h"
#include "mutex.h"

struct sqlite3;

namespace vask::host {

// What became of a message the user sent, kept with it in the history (a
// received message or a notice has kDeliveryNone).
enum Delivery : int {
  kDeliveryNone = 0,
  kDeliveryWaiting = 1,  // handed to the plug-in, its answer still to come
  kDeliverySent = 2,     // the plug-in reported it sent
  kDeliveryFailed = 3,   // the plug-in reported it not sent
};

struct HistoryEntry {
  int64_t number = 0;
  int contact = -1;  // the sender's row, -1 when unknown
  std::string from;
  std::string to;
  std::string body;
  std::string ext;
  int64_t time = 0;
  int type = 0;
  int net = 0;
  int flags = 0;
  int delivery = kDeliveryNone;
};

class HostTables {
 public:
  // ":memory:" or a file, created with our mark when new. `computer` is
  // written into the own entry's address when that is still empty.
  HostTables(const std::string& path, const std::string& computer);
  ~HostTables();
  HostTables(const HostTables&) = delete;
  HostTables& operator=(const HostTables&) = delete;

  // False when the profile was refused; error() then says why, in Polish.
  bool ok() const EXCLUDES(mutex_);
  const std::string& error() const { return error_; }

  // Receives the Polish text of every failed read or write, on the thread
  // that made the call, after the tables' lock is released (it may call
  // back). Null: failures are only returned.
  using FailureListener = std::function<void(const std::string& message)>;
  void SetFailureListener(FailureListener listener);

  // Defines or redefines a column (its values stay). type: kColumnInt or
  // kColumnText.
  bool DefineColumn(int table, int column, int type, int64_t defaultInt,
                    std::string_view defaultText, std::string_view name);
  // The column's type, or nullopt when nobody defined it.
  std::optional<int> ColumnType(int table, int column);

  // Reads convert: a text read as an integer gives its leading number, an
  // integer read as text its decimal form. A missing value gives the
  // column's default, else 0 or "".
  int64_t GetInt(int table, int row, int column);
  std::string GetText(int table, int row, int column);
  // Writes store in the column's own type (converting as above).
  bool SetInt(int table, int row, int column, int64_t value);
  bool SetText(int table, int row, int column, std::string_view value);

  // True when a value was ever stored (defaults do not count).
  bool HasValue(int table, int row, int column);
  bool RowExists(int table, int row);
  int NewContact();                // a new row id, -1 when it could not be made
  bool DeleteContact(int row);     // row 0 cannot be deleted
  std::vector<int> ContactRows();  // ascending, 0 first
  // One past the highest row: the count the plug-in walks 1..n-1 by.
  int ContactLimit();

  bool SetIgnored(std::string_view address, bool ignored);
  bool IsIgnored(std::string_view address);     // compares ignoring case, Windows-1250 letters too
  std::vector<std::string> IgnoredAddresses();  // in capitals, sorted

  // The entry's number, 0 when it could not be stored. A time of 0 (the
  // plug-in's notices carry none) is stored as the time of arrival.
  int64_t AddHistory(const HistoryEntry& entry);
  // -2: all. In order of time, entries of one second in order of arrival.
  std::vector<HistoryEntry> History(int contact);
  // What became of the sent message stored as entry `number`.
  bool SetDelivery(int64_t number, Delivery delivery);
  // Takes the entry out of the history (an echo of the user's own message).
  bool RemoveHistory(int64_t number);

 private:
  class Access;

  bool Exec(const char* sql) REQUIRES(mutex_);
  // Finalizes the kept statements, then closes the connection (if open).
  void CloseLocked() REQUIRES(mutex_);
  bool Open(const std::string& path, const std::string& computer) EXCLUDES(mutex_);
  bool DefineColumnLocked(Access& access, int table, int column, int type, int64_t defaultInt,
                          std::string_view defaultText, std::string_view name) REQUIRES(mutex_);
  std::optional<int> ColumnTypeLocked(Access& access, int table, int column) REQUIRES(mutex_);
  bool SetTextLocked(Access& access, int table, int row, int column, std::string_view value)
      REQUIRES(mutex_);

  mutable vask::Mutex mutex_;
  // The connection: every use of it (each statement) holds the lock.
  sqlite3* db_ GUARDED_BY(mutex_) = nullptr;
  // The connection's statements, each prepared once: the plug-in reads the
  // same cells every few seconds. Emptied before the connection closes.
  StatementCache statements_ GUARDED_BY(mutex_);
  FailureListener listener_ GUARDED_BY(mutex_);
  // Owned by the constructor, which writes it while opening; read-only after.
  std::string error_;
};

// The leading decimal number of a text, as atoi reads it (0 when none).
int64_t LeadingNumber(std::string_view text);
// Equal when the Windows-1250 texts match without regard to case (Polish
// capitals included), as computer names do.
bool EqualsNoCase(std::string_view a, std::string_view b);

}  // namespace vask::host
