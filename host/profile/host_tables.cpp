#include "host/profile/host_tables.h"

#include <sqlite3.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "abi/host_ids.h"
#include "abi/host_records.h"
#include "host/profile/sqlite_statement.h"
#include "host/text/text_codec.h"

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
                      net INTEGER, flags INTEGER, delivery INTEGER NOT NULL DEFAULT 0);
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

constexpr const char* kWriteFailed = "Nie udało się zapisać profilu: ";
constexpr const char* kReadFailed = "Nie udało się odczytać profilu: ";

// Computer names are compared as Windows writes them: Polish letters too.
std::string Upper(std::string_view text) { return UpperCp1250(text); }

}  // namespace

int64_t LeadingNumber(std::string_view text) {
  std::string copy(text);
  return std::strtoll(copy.c_str(), nullptr, 10);
}

bool EqualsNoCase(std::string_view a, std::string_view b) { return Upper(a) == Upper(b); }

// One call's hold on the tables: the lock, and the first failure of the
// call, told to the listener once the lock is released. (The analysis does
// not look inside a constructor or destructor: the destructor reads the
// listener while lock_ still holds the tables' lock.)
class SCOPED_CAPABILITY HostTables::Access {
 public:
  Access(HostTables& tables, const char* failureText) ACQUIRE(tables.mutex_)
      : tables_(tables), lock_(tables.mutex_), failureText_(failureText) {}
  ~Access() RELEASE() {
    if (failure_.empty()) return;
    FailureListener listener = tables_.listener_;
    lock_.Unlock();
    if (listener) listener(failure_);
  }
  Access(const Access&) = delete;
  Access& operator=(const Access&) = delete;
  // True when the statement has not failed; else keeps its failure.
  bool Check(const Statement& s) {
    if (!s.failed()) return true;
    if (failure_.empty()) failure_ = failureText_ + s.message();
    return false;
  }
  bool failed() const { return !failure_.empty(); }
  const std::string& failure() const { return failure_; }

 private:
  HostTables& tables_;
  vask::MutexLock lock_;
  const char* failureText_;
  std::string failure_;
};

HostTables::HostTables(const std::string& path, const std::string& computer) {
  if (!Open(path, computer)) {
    vask::MutexLock lock(mutex_);
    CloseLocked();
  }
}

HostTables::~HostTables() {
  vask::MutexLock lock(mutex_);
  CloseLocked();
}

void HostTables::CloseLocked() {
  // The connection refuses to close while any statement of it lives, and
  // would stay open with its files: the kept ones go first.
  statements_.Clear();
  if (db_) sqlite3_close(db_);
  db_ = nullptr;
}

bool HostTables::ok() const {
  vask::MutexLock lock(mutex_);
  return db_ != nullptr;
}

void HostTables::SetFailureListener(FailureListener listener) {
  vask::MutexLock lock(mutex_);
  listener_ = std::move(listener);
}

bool HostTables::Exec(const char* sql) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) != SQLITE_OK) {
    error_ = message ? message : sqlite3_errmsg(db_);
    sqlite3_free(message);
    return false;
  }
  return true;
}

bool HostTables::Open(const std::string& path, const std::string& computer) {
  Access access(*this, kWriteFailed);
  const int opened =
      sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (opened != SQLITE_OK) {
    error_ = path + ": nie można otworzyć profilu (" +
             (db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(opened)) + ")";
    return false;
  }
  // A file the system lets us only read opens read-only, and every setting,
  // contact and message would then fail to be kept.
  const std::string readOnly =
      path +
      ": profil jest tylko do odczytu, a vask-host zapisuje w nim ustawienia, kontakty i "
      "historię; nadaj plikowi (i jego folderowi) prawo zapisu albo wskaż inny opcją --profile";
  if (sqlite3_db_readonly(db_, "main") == 1) {
    error_ = readOnly;
    return false;
  }
  sqlite3_busy_timeout(db_, 2000);
  int tables = -1;
  {
    Statement count(db_, "SELECT count(*) FROM sqlite_master");
    if (!count.Step()) {
      if (count.code() == SQLITE_NOTADB) {
        error_ = path + ": to nie jest profil vask-host; plik zostaje nietknięty";
      } else if (count.code() == SQLITE_READONLY || count.code() == SQLITE_CANTOPEN) {
        // A profile kept with a write-ahead log is read through files beside
        // it, which a folder without the right to write cannot hold.
        error_ = readOnly;
      } else {
        error_ = path + ": nie można odczytać profilu (" + count.message() + ")";
      }
      return false;
    }
    tables = static_cast<int>(count.ColumnInt(0));
  }
  if (tables == 0) {
    bool made = Exec("BEGIN") && Exec(kSchema);
    if (made) {
      Statement mark(db_, "INSERT INTO profile (key, value) VALUES ('format', ?1)");
      mark.Blob(1, kFormatMark);
      made = mark.Run();
      if (!made) error_ = mark.message();
    }
    made = made && Exec("COMMIT");
    if (!made) {
      error_ = path + ": nie udało się utworzyć profilu (" + error_ + ")";
      return false;
    }
  } else {
    Statement mark(db_, "SELECT value FROM profile WHERE key = 'format'");
    if (!mark.Step() || mark.ColumnText(0) != kFormatMark) {
      error_ =
          path + ": to nie jest profil vask-host (to plik innego programu); zostaje nietknięty";
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
    if (!Exec("PRAGMA journal_mode=WAL") || !Exec("PRAGMA synchronous=NORMAL")) {
      error_ = path + ": nie można przygotować profilu (" + error_ + ")";
      return false;
    }
  }
  // A profile made before sent messages kept their delivery gets the column,
  // each of its rows none.
  {
    Statement probe(db_, "SELECT delivery FROM history LIMIT 0");
    if (probe.failed() &&
        !Exec("ALTER TABLE history ADD COLUMN delivery INTEGER NOT NULL DEFAULT 0")) {
      error_ = path + ": nie można uzupełnić historii profilu (" + error_ + ")";
      return false;
    }
  }
  // The schema is complete: statements are kept from here on. One kept
  // when another connection changes the schema later (a trigger added) is
  // prepared again by SQLite at its next step, never run on a stale plan.
  for (const HostColumn& c : kHostColumns) {
    if (access.failed()) break;
    if (!ColumnTypeLocked(access, c.table, c.column) && !access.failed()) {
      DefineColumnLocked(access, c.table, c.column, c.type, 0, "", "");
    }
  }
  if (!access.failed() && !computer.empty()) {
    Statement own(db_, "SELECT 1 FROM cells WHERE tbl = ?1 AND row = 0 AND col = ?2");
    own.Int(1, kTableContacts).Int(2, kColumnId);
    const bool known = own.Step();
    if (access.Check(own) && !known) {
      SetTextLocked(access, kTableContacts, 0, kColumnId, computer);
    }
  }
  if (access.failed()) {
    error_ = path + ": " + access.failure();
    return false;
  }
  return true;
}

bool HostTables::DefineColumnLocked(Access& access, int table, int column, int type,
                                    int64_t defaultInt, std::string_view defaultText,
                                    std::string_view name) {
  Statement s(db_, statements_,
              "INSERT OR REPLACE INTO columns (tbl, col, type, def_int, def_text, name) "
              "VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
  s.Int(1, table).Int(2, column).Int(3, type).Int(4, defaultInt).Blob(5, defaultText).Blob(6, name);
  s.Run();
  return access.Check(s);
}

bool HostTables::DefineColumn(int table, int column, int type, int64_t defaultInt,
                              std::string_view defaultText, std::string_view name) {
  Access access(*this, kWriteFailed);
  if (!db_) return false;
  return DefineColumnLocked(access, table, column, type, defaultInt, defaultText, name);
}

std::optional<int> HostTables::ColumnTypeLocked(Access& access, int table, int column) {
  Statement s(db_, statements_, "SELECT type FROM columns WHERE tbl = ?1 AND col = ?2");
  s.Int(1, table).Int(2, column);
  const bool found = s.Step();
  if (!access.Check(s) || !found) return std::nullopt;
  return static_cast<int>(s.ColumnInt(0));
}

std::optional<int> HostTables::ColumnType(int table, int column) {
  Access access(*this, kReadFailed);
  if (!db_) return std::nullopt;
  return ColumnTypeLocked(access, table, column);
}

int64_t HostTables::GetInt(int table, int row, int column) {
  Access access(*this, kReadFailed);
  if (!db_) return 0;
  Statement s(db_, statements_, "SELECT value FROM cells WHERE tbl = ?1 AND row = ?2 AND col = ?3");
  s.Int(1, table).Int(2, row).Int(3, column);
  if (s.Step() && !s.ColumnIsNull(0)) {
    return s.ColumnIsText(0) ? LeadingNumber(s.ColumnText(0)) : s.ColumnInt(0);
  }
  if (!access.Check(s)) return 0;
  Statement d(db_, statements_,
              "SELECT type, def_int, def_text FROM columns WHERE tbl = ?1 AND col = ?2");
  d.Int(1, table).Int(2, column);
  if (!d.Step()) {
    access.Check(d);
    return 0;
  }
  return d.ColumnInt(0) == kColumnText ? LeadingNumber(d.ColumnText(2)) : d.ColumnInt(1);
}

std::string HostTables::GetText(int table, int row, int column) {
  Access access(*this, kReadFailed);
  if (!db_) return "";
  Statement s(db_, statements_, "SELECT value FROM cells WHERE tbl = ?1 AND row = ?2 AND col = ?3");
  s.Int(1, table).Int(2, row).Int(3, column);
  if (s.Step() && !s.ColumnIsNull(0)) {
    return s.ColumnIsText(0) ? s.ColumnText(0) : std::to_string(s.ColumnInt(0));
  }
  if (!access.Check(s)) return "";
  Statement d(db_, statements_,
              "SELECT type, def_int, def_text FROM columns WHERE tbl = ?1 AND col = ?2");
  d.Int(1, table).Int(2, column);
  if (!d.Step()) {
    access.Check(d);
    return "";
  }
  return d.ColumnInt(0) == kColumnText ? d.ColumnText(2) : std::to_string(d.ColumnInt(1));
}

bool HostTables::SetInt(int table, int row, int column, int64_t value) {
  Access access(*this, kWriteFailed);
  if (!db_) return false;
  const std::optional<int> type = ColumnTypeLocked(access, table, column);
  if (access.failed()) return false;
  Statement s(db_, statements_,
              "INSERT OR REPLACE INTO cells (tbl, row, col, value) VALUES (?1, ?2, ?3, ?4)");
  s.Int(1, table).Int(2, row).Int(3, column);
  if (type == kColumnText) {
    s.Blob(4, std::to_string(value));
  } else {
    s.Int(4, value);
  }
  s.Run();
  return access.Check(s);
}

bool HostTables::SetTextLocked(Access& access, int table, int row, int column,
                               std::string_view value) {
  const std::optional<int> type = ColumnTypeLocked(access, table, column);
  if (access.failed()) return false;
  Statement s(db_, statements_,
              "INSERT OR REPLACE INTO cells (tbl, row, col, value) VALUES (?1, ?2, ?3, ?4)");
  s.Int(1, table).Int(2, row).Int(3, column);
  if (type == kColumnInt) {
    s.Int(4, LeadingNumber(value));
  } else {
    s.Blob(4, value);
  }
  s.Run();
  return access.Check(s);
}

bool HostTables::SetText(int table, int row, int column, std::string_view value) {
  Access access(*this, kWriteFailed);
  if (!db_) return false;
  return SetTextLocked(access, table, row, column, value);
}

bool HostTables::HasValue(int table, int row, int column) {
  Access access(*this, kReadFailed);
  if (!db_) return false;
  Statement s(db_, statements_, "SELECT 1 FROM cells WHERE tbl = ?1 AND row = ?2 AND col = ?3");
  s.Int(1, table).Int(2, row).Int(3, column);
  const bool found = s.Step();
  return access.Check(s) && found;
}

bool HostTables::RowExists(int table, int row) {
  if (table == kTableSettings) return row == 0;
  Access access(*this, kReadFailed);
  if (!db_ || table != kTableContacts) return false;
  Statement s(db_, statements_, "SELECT 1 FROM contacts WHERE row = ?1");
  s.Int(1, row);
  const bool found = s.Step();
  return access.Check(s) && found;
}

int HostTables::NewContact() {
  Access access(*this, kWriteFailed);
  if (!db_) return -1;
  Statement s(db_, statements_,
              "INSERT INTO contacts (row) SELECT coalesce(max(row), 0) + 1 FROM contacts");
  s.Run();
  if (!access.Check(s)) return -1;
  return static_cast<int>(sqlite3_last_insert_rowid(db_));
}

bool HostTables::DeleteContact(int row) {
  if (row <= 0) return false;
  Access access(*this, kWriteFailed);
  if (!db_) return false;
  auto run = [&](const char* sql) REQUIRES(mutex_) {
    Statement s(db_, statements_, sql);
    s.Run();
    return access.Check(s);
  };
  // The row and its cells go together or not at all.
  if (!run("SAVEPOINT remove_contact")) return false;
  Statement s(db_, statements_, "DELETE FROM contacts WHERE row = ?1");
  s.Int(1, row);
  s.Run();
  const bool removed = access.Check(s) && sqlite3_changes(db_) > 0;
  if (removed) {
    Statement cells(db_, statements_, "DELETE FROM cells WHERE tbl = 1 AND row = ?1");
    cells.Int(1, row);
    cells.Run();
    access.Check(cells);
  }
  if (!removed || access.failed()) {
    // Undoing what failed: its own failure would add nothing to the first.
    Statement(db_, statements_, "ROLLBACK TO remove_contact").Run();
    Statement(db_, statements_, "RELEASE remove_contact").Run();
    return false;
  }
  return run("RELEASE remove_contact");
}

std::vector<int> HostTables::ContactRows() {
  Access access(*this, kReadFailed);
  std::vector<int> rows;
  if (!db_) return rows;
  Statement s(db_, statements_, "SELECT row FROM contacts ORDER BY row");
  while (s.Step()) rows.push_back(static_cast<int>(s.ColumnInt(0)));
  access.Check(s);
  return rows;
}

int HostTables::ContactLimit() {
  Access access(*this, kReadFailed);
  if (!db_) return 1;
  Statement s(db_, statements_, "SELECT coalesce(max(row), 0) + 1 FROM contacts");
  const bool found = s.Step();
  return access.Check(s) && found ? static_cast<int>(s.ColumnInt(0)) : 1;
}

bool HostTables::SetIgnored(std::string_view address, bool ignored) {
  Access access(*this, kWriteFailed);
  if (!db_) return false;
  Statement s(db_, statements_,
              ignored ? "INSERT OR IGNORE INTO ignored (address) VALUES (?1)"
                      : "DELETE FROM ignored WHERE address = ?1");
  s.Blob(1, Upper(address));
  s.Run();
  return access.Check(s);
}

bool HostTables::IsIgnored(std::string_view address) {
  Access access(*this, kReadFailed);
  if (!db_) return false;
  Statement s(db_, statements_, "SELECT 1 FROM ignored WHERE address = ?1");
  s.Blob(1, Upper(address));
  const bool found = s.Step();
  return access.Check(s) && found;
}

std::vector<std::string> HostTables::IgnoredAddresses() {
  Access access(*this, kReadFailed);
  std::vector<std::string> addresses;
  if (!db_) return addresses;
  Statement s(db_, statements_, "SELECT address FROM ignored ORDER BY address");
  while (s.Step()) addresses.push_back(s.ColumnText(0));
  if (!access.Check(s)) addresses.clear();
  return addresses;
}

int64_t HostTables::AddHistory(const HistoryEntry& e) {
  Access access(*this, kWriteFailed);
  if (!db_) return 0;
  Statement s(db_, statements_,
              "INSERT INTO history (contact, sender, receiver, body, ext, time, type, net, flags, "
              "delivery) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10)");
  s.Int(1, e.contact).Blob(2, e.from).Blob(3, e.to).Blob(4, e.body).Blob(5, e.ext);
  s.Int(6, e.time > 0 ? e.time : static_cast<int64_t>(std::time(nullptr)));
  s.Int(7, e.type).Int(8, e.net).Int(9, e.flags).Int(10, e.delivery);
  s.Run();
  if (!access.Check(s)) return 0;
  return sqlite3_last_insert_rowid(db_);
}

std::vector<HistoryEntry> HostTables::History(int contact) {
  Access access(*this, kReadFailed);
  std::vector<HistoryEntry> out;
  if (!db_) return out;
  Statement s(db_, statements_,
              "SELECT number, contact, sender, receiver, body, ext, time, type, net, flags, "
              "delivery FROM history WHERE ?1 = -2 OR contact = ?1 ORDER BY time, number");
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
    e.delivery = static_cast<int>(s.ColumnInt(10));
    out.push_back(std::move(e));
  }
  access.Check(s);
  return out;
}

bool HostTables::SetDelivery(int64_t number, Delivery delivery) {
  Access access(*this, kWriteFailed);
  if (!db_) return false;
  Statement s(db_, statements_, "UPDATE history SET delivery = ?2 WHERE number = ?1");
  s.Int(1, number).Int(2, delivery);
  s.Run();
  return access.Check(s);
}

bool HostTables::RemoveHistory(int64_t number) {
  Access access(*this, kWriteFailed);
  if (!db_) return false;
  Statement s(db_, statements_, "DELETE FROM history WHERE number = ?1");
  s.Int(1, number);
  s.Run();
  return access.Check(s);
}

}  // namespace vask::host
