// The stand-in host's tables in SQLite: settings (table 0, row 0), contacts
// (table 1, row 0 = the user's own entry), the columns defined for them, the
// ignore list and the message history.
//
// A profile file is ours when it carries our format mark; any other file
// (damaged, or another program's database) is refused, never overwritten.
// Texts are stored as the plug-in's bytes. Thread-safe (one lock).
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace vask::host {

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
};

class HostTables {
 public:
  // ":memory:" or a file, created with our mark when new. `computer` is
  // written into the own entry's address when that is still empty.
  HostTables(const std::string& path, const std::string& computer);
  ~HostTables();
  HostTables(const HostTables&) = delete;
  HostTables& operator=(const HostTables&) = delete;

  bool ok() const { return db_ != nullptr; }
  const std::string& error() const { return error_; }

  // Defines or redefines a column (its values stay). type: kColumnInt or
  // kColumnText.
  void DefineColumn(int table, int column, int type, int64_t defaultInt,
                    std::string_view defaultText, std::string_view name);
  // The column's type, or nullopt when nobody defined it.
  std::optional<int> ColumnType(int table, int column);

  // Reads convert: a text read as an integer gives its leading number, an
  // integer read as text its decimal form. A missing value gives the
  // column's default, else 0 or "".
  int64_t GetInt(int table, int row, int column);
  std::string GetText(int table, int row, int column);
  // Writes store in the column's own type (converting as above).
  void SetInt(int table, int row, int column, int64_t value);
  void SetText(int table, int row, int column, std::string_view value);

  // True when a value was ever stored (defaults do not count).
  bool HasValue(int table, int row, int column);
  bool RowExists(int table, int row);
  int NewContact();                // a new row id
  bool DeleteContact(int row);     // row 0 cannot be deleted
  std::vector<int> ContactRows();  // ascending, 0 first
  // One past the highest row: the count the plug-in walks 1..n-1 by.
  int ContactLimit();

  void SetIgnored(std::string_view address, bool ignored);
  bool IsIgnored(std::string_view address);     // compares ignoring ASCII case
  std::vector<std::string> IgnoredAddresses();  // as stored: in capitals, sorted

  int64_t AddHistory(const HistoryEntry& entry);
  std::vector<HistoryEntry> History(int contact);  // -2: all, in order

 private:
  bool Exec(const char* sql);
  bool Open(const std::string& path, const std::string& computer);
  std::optional<int> ColumnTypeLocked(int table, int column);

  std::mutex mutex_;
  sqlite3* db_ = nullptr;
  std::string error_;
};

// The leading decimal number of a text, as atoi reads it (0 when none).
int64_t LeadingNumber(std::string_view text);
// ASCII-only case folding compare.
bool EqualsNoCase(std::string_view a, std::string_view b);

}  // namespace vask::host
