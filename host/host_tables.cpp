#include "host/host_tables.h"

#include <sqlite3.h>

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "abi/host_ids.h"
#include "abi/host_records.h"
#include "host/text_codec.h"

namespace vask::host {

namespace {

constexpr const char* kFormatMark = "vask-host profile 1";

constexpr const char* kSchema = R"(
CREATE TABLE profile (key TEXT PRIMARY KEY, value TEXT);
CREATE TABLE columns (tbl INTEGER, col INTEGER, type INTEGER, def_int INTEGER, def_text BLOB,
                      name BLOB, PRIMARY KEY (tbl, col));
CREATE TABLE cells (tbl INTEGER, row INTEGER, col INTEGER, value, PRIMARY KEY (tbl, row, col));
CREATE TABLE contacts (row INTEGER PRIMARY KEY);
CREATE TABLE ignored (address BLOB PRIMARY KEY);
CREATE TABLE history (number INTEGER PRIMARY KEY AUTOINCREMENT, contact INTEGER, sender BLOB,
                      receiver BLOB, body BLOB, ext BLOB, time INTEGER, type INTEGER,
                      net INTEGER, flags INTEGER);
INSERT INTO contacts (row) VALUES (0);
)";

// Columns the host itself defines: its own settings (the help folder,
// restoring the last status, delivery notices) and the contact columns the
// plug-in reads and writes.
struct HostColumn {
  int table;
  int column;
  int type;
};
constexpr HostColumn kHostColumns[] = {
    {kTableSettings, kSettingHostFolder, kColumnText},
    {kTableSettings, kSettingRestoreStatus, kColumnInt},
    {kTableSettings, kSettingNotices, kColumnInt},
    {kTableContacts, kColumnId, kColumnText},
    {kTableContacts, kColumnNet, kColumnInt},
    {kTableContacts, kColumnStatus, kColumnInt},
    {kTableContacts, kColumnFirstName, kColumnText},
    {kTableContacts, kColumnLastName, kColumnText},
    {kTableContacts, kColumnNick, kColumnText},
    {kTableContacts, kColumnCity, kColumnText},
    {kTableContacts, kColumnQueryCity, kColumnText},
    {kTableContacts, kColumnEmail, kColumnText},
    {kTableContacts, kColumnPresent, kColumnText},
    {kTableContacts, kColumnDescription, kColumnText},
    {kTableContacts, kColumnStatusInfo, kColumnText},
    {kTableContacts, kColumnBirth, kColumnInt},
    {kTableContacts, kColumnGender, kColumnInt},
    {kTableContacts, kColumnStatusMark, kColumnInt},
};

// One prepared statement, finalized on scope exit.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr); }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  bool ok() const { return stmt_ != nullptr; }
  Statement& Int(int index, int64_t value) {
    sqlite3_bind_int64(stmt_, index, value);
    return *this;
  }
  Statement& Blob(int index, std::string_view value) {
    sqlite3_bind_blob(stmt_, index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
    return *this;
  }
  bool Step() { return stmt_ && sqlite3_step(stmt_) == SQLITE_ROW; }
  bool Run() {
    if (!stmt_) return false;
    int rc = sqlite3_step(stmt_);
    return rc == SQLITE_DONE || rc == SQLITE_ROW;
  }
  int64_t ColumnInt(int index) { return sqlite3_column_int64(stmt_, index); }
  bool ColumnIsNull(int index) { return sqlite3_column_type(stmt_, index) == SQLITE_NULL; }
  bool ColumnIsText(int index) {
    int t = sqlite3_column_type(stmt_, index);
    return t == SQLITE_BLOB || t == SQLITE_TEXT;
  }
  std::string ColumnText(int index) {
    const void* data = sqlite3_column_blob(stmt_, index);
    int size = sqlite3_column_bytes(stmt_, index);
    return data ? std::string(static_cast<const char*>(data), static_cast<size_t>(size)) : "";
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

// Computer names are compared as Windows writes them: Polish letters too.
std::string Upper(std::string_view text) { return UpperCp1250(text); }

}  // namespace

int64_t LeadingNumber(std::string_view text) {
  std::string copy(text);
  return std::strtoll(copy.c_str(), nullptr, 10);
}

bool EqualsNoCase(std::string_view a, std::string_view b) { return Upper(a) == Upper(b); }

HostTables::HostTables(const std::string& path, const std::string& computer) {
  if (!Open(path, computer) && db_) {
    sqlite3_close(db_);
    db_ = nullptr;
  }
}

HostTables::~HostTables() {
  if (db_) sqlite3_close(db_);
}

bool HostTables::Exec(const char* sql) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) != SQLITE_OK) {
    error_ = message ? message : "database error";
    sqlite3_free(message);
    return false;
  }
  return true;
}

bool HostTables::Open(const std::string& path, const std::string& computer) {
  if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
      SQLITE_OK) {
    error_ = db_ ? sqlite3_errmsg(db_) : "cannot open the profile";
    error_ = path + ": " + error_;
    return false;
  }
  sqlite3_busy_timeout(db_, 2000);
  int tables = -1;
  {
    Statement count(db_, "SELECT count(*) FROM sqlite_master");
    if (!count.ok() || !count.Step()) {
      error_ = path + ": not a profile (" + sqlite3_errmsg(db_) + ")";
      return false;
    }
    tables = static_cast<int>(count.ColumnInt(0));
  }
  if (tables == 0) {
    if (!Exec("BEGIN") || !Exec(kSchema)) return false;
    Statement mark(db_, "INSERT INTO profile (key, value) VALUES ('format', ?1)");
    mark.Blob(1, kFormatMark);
    if (!mark.Run() || !Exec("COMMIT")) return false;
  } else {
    Statement mark(db_, "SELECT value FROM profile WHERE key = 'format'");
    if (!mark.ok() || !mark.Step() || mark.ColumnText(0) != kFormatMark) {
      error_ = path + ": not a vask-host profile; refusing to use it";
      return false;
    }
  }
  // Only once the file is known to be ours. Every message is a history row
  // and every setting a write: with the rollback journal each one waited
  // for the disk twice, which held a host to a few hundred messages a
  // second. Write-ahead logging with the normal sync keeps every committed
  // row across a crash of the program and loses at most the last ones on a
  // power cut, which a message history can bear.
  if (path != ":memory:" && !path.empty()) {
    Exec("PRAGMA journal_mode=WAL");
    Exec("PRAGMA synchronous=NORMAL");
  }
  for (const HostColumn& c : kHostColumns) {
    if (!ColumnTypeLocked(c.table, c.column)) DefineColumn(c.table, c.column, c.type, 0, "", "");
  }
  if (!computer.empty() && GetText(kTableContacts, 0, kColumnId).empty()) {
    SetText(kTableContacts, 0, kColumnId, computer);
  }
  return true;
}

void HostTables::DefineColumn(int table, int column, int type, int64_t defaultInt,
                              std::string_view defaultText, std::string_view name) {
  std::lock_guard lock(mutex_);
  if (!db_) return;
  Statement s(db_,
              "INSERT OR REPLACE INTO columns (tbl, col, type, def_int, def_text, name) "
              "VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
  s.Int(1, table).Int(2, column).Int(3, type).Int(4, defaultInt).Blob(5, defaultText).Blob(6, name);
  s.Run();
}

std::optional<int> HostTables::ColumnTypeLocked(int table, int column) {
  Statement s(db_, "SELECT type FROM columns WHERE tbl = ?1 AND col = ?2");
  s.Int(1, table).Int(2, column);
  if (!s.Step()) return std::nullopt;
  return static_cast<int>(s.ColumnInt(0));
}

std::optional<int> HostTables::ColumnType(int table, int column) {
  std::lock_guard lock(mutex_);
  if (!db_) return std::nullopt;
  return ColumnTypeLocked(table, column);
}

int64_t HostTables::GetInt(int table, int row, int column) {
  std::lock_guard lock(mutex_);
  if (!db_) return 0;
  Statement s(db_, "SELECT value FROM cells WHERE tbl = ?1 AND row = ?2 AND col = ?3");
  s.Int(1, table).Int(2, row).Int(3, column);
  if (s.Step() && !s.ColumnIsNull(0)) {
    return s.ColumnIsText(0) ? LeadingNumber(s.ColumnText(0)) : s.ColumnInt(0);
  }
  Statement d(db_, "SELECT type, def_int, def_text FROM columns WHERE tbl = ?1 AND col = ?2");
  d.Int(1, table).Int(2, column);
  if (!d.Step()) return 0;
  return d.ColumnInt(0) == kColumnText ? LeadingNumber(d.ColumnText(2)) : d.ColumnInt(1);
}

std::string HostTables::GetText(int table, int row, int column) {
  std::lock_guard lock(mutex_);
  if (!db_) return "";
  Statement s(db_, "SELECT value FROM cells WHERE tbl = ?1 AND row = ?2 AND col = ?3");
  s.Int(1, table).Int(2, row).Int(3, column);
  if (s.Step() && !s.ColumnIsNull(0)) {
    return s.ColumnIsText(0) ? s.ColumnText(0) : std::to_string(s.ColumnInt(0));
  }
  Statement d(db_, "SELECT type, def_int, def_text FROM columns WHERE tbl = ?1 AND col = ?2");
  d.Int(1, table).Int(2, column);
  if (!d.Step()) return "";
  return d.ColumnInt(0) == kColumnText ? d.ColumnText(2) : std::to_string(d.ColumnInt(1));
}

void HostTables::SetInt(int table, int row, int column, int64_t value) {
  std::lock_guard lock(mutex_);
  if (!db_) return;
  Statement s(db_, "INSERT OR REPLACE INTO cells (tbl, row, col, value) VALUES (?1, ?2, ?3, ?4)");
  s.Int(1, table).Int(2, row).Int(3, column);
  if (ColumnTypeLocked(table, column) == kColumnText) {
    s.Blob(4, std::to_string(value));
  } else {
    s.Int(4, value);
  }
  s.Run();
}

void HostTables::SetText(int table, int row, int column, std::string_view value) {
  std::lock_guard lock(mutex_);
  if (!db_) return;
  Statement s(db_, "INSERT OR REPLACE INTO cells (tbl, row, col, value) VALUES (?1, ?2, ?3, ?4)");
  s.Int(1, table).Int(2, row).Int(3, column);
  if (ColumnTypeLocked(table, column) == kColumnInt) {
    s.Int(4, LeadingNumber(value));
  } else {
    s.Blob(4, value);
  }
  s.Run();
}

bool HostTables::HasValue(int table, int row, int column) {
  std::lock_guard lock(mutex_);
  if (!db_) return false;
  Statement s(db_, "SELECT 1 FROM cells WHERE tbl = ?1 AND row = ?2 AND col = ?3");
  s.Int(1, table).Int(2, row).Int(3, column);
  return s.Step();
}

bool HostTables::RowExists(int table, int row) {
  if (table == kTableSettings) return row == 0;
  std::lock_guard lock(mutex_);
  if (!db_ || table != kTableContacts) return false;
  Statement s(db_, "SELECT 1 FROM contacts WHERE row = ?1");
  s.Int(1, row);
  return s.Step();
}

int HostTables::NewContact() {
  std::lock_guard lock(mutex_);
  if (!db_) return -1;
  Statement s(db_, "INSERT INTO contacts (row) SELECT coalesce(max(row), 0) + 1 FROM contacts");
  if (!s.Run()) return -1;
  return static_cast<int>(sqlite3_last_insert_rowid(db_));
}

bool HostTables::DeleteContact(int row) {
  if (row <= 0) return false;
  std::lock_guard lock(mutex_);
  if (!db_) return false;
  Statement s(db_, "DELETE FROM contacts WHERE row = ?1");
  s.Int(1, row);
  if (!s.Run() || sqlite3_changes(db_) == 0) return false;
  Statement cells(db_, "DELETE FROM cells WHERE tbl = 1 AND row = ?1");
  cells.Int(1, row);
  cells.Run();
  return true;
}

std::vector<int> HostTables::ContactRows() {
  std::lock_guard lock(mutex_);
  std::vector<int> rows;
  if (!db_) return rows;
  Statement s(db_, "SELECT row FROM contacts ORDER BY row");
  while (s.Step()) rows.push_back(static_cast<int>(s.ColumnInt(0)));
  return rows;
}

int HostTables::ContactLimit() {
  std::lock_guard lock(mutex_);
  if (!db_) return 1;
  Statement s(db_, "SELECT coalesce(max(row), 0) + 1 FROM contacts");
  return s.Step() ? static_cast<int>(s.ColumnInt(0)) : 1;
}

void HostTables::SetIgnored(std::string_view address, bool ignored) {
  std::lock_guard lock(mutex_);
  if (!db_) return;
  Statement s(db_, ignored ? "INSERT OR IGNORE INTO ignored (address) VALUES (?1)"
                           : "DELETE FROM ignored WHERE address = ?1");
  s.Blob(1, Upper(address));
  s.Run();
}

bool HostTables::IsIgnored(std::string_view address) {
  std::lock_guard lock(mutex_);
  if (!db_) return false;
  Statement s(db_, "SELECT 1 FROM ignored WHERE address = ?1");
  s.Blob(1, Upper(address));
  return s.Step();
}

std::vector<std::string> HostTables::IgnoredAddresses() {
  std::lock_guard lock(mutex_);
  std::vector<std::string> addresses;
  if (!db_) return addresses;
  Statement s(db_, "SELECT address FROM ignored ORDER BY address");
  while (s.Step()) addresses.push_back(s.ColumnText(0));
  return addresses;
}

int64_t HostTables::AddHistory(const HistoryEntry& e) {
  std::lock_guard lock(mutex_);
  if (!db_) return 0;
  Statement s(db_,
              "INSERT INTO history (contact, sender, receiver, body, ext, time, type, net, flags) "
              "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)");
  s.Int(1, e.contact).Blob(2, e.from).Blob(3, e.to).Blob(4, e.body).Blob(5, e.ext);
  s.Int(6, e.time).Int(7, e.type).Int(8, e.net).Int(9, e.flags);
  if (!s.Run()) return 0;
  return sqlite3_last_insert_rowid(db_);
}

std::vector<HistoryEntry> HostTables::History(int contact) {
  std::lock_guard lock(mutex_);
  std::vector<HistoryEntry> out;
  if (!db_) return out;
  Statement s(db_,
              "SELECT number, contact, sender, receiver, body, ext, time, type, net, flags "
              "FROM history WHERE ?1 = -2 OR contact = ?1 ORDER BY number");
  s.Int(1, contact);
  while (s.Step()) {
    HistoryEntry e;
    e.number = s.ColumnInt(0);
    e.contact = static_cast<int>(s.ColumnInt(1));
    e.from = s.ColumnText(2);
    e.to = s.ColumnText(3);
    e.body = s.ColumnText(4);
    e.ext = s.ColumnText(5);
    e.time = s.ColumnInt(6);
    e.type = static_cast<int>(s.ColumnInt(7));
    e.net = static_cast<int>(s.ColumnInt(8));
    e.flags = static_cast<int>(s.ColumnInt(9));
    out.push_back(std::move(e));
  }
  return out;
}

}  // namespace vask::host
