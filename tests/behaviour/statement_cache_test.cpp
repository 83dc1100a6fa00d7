// The profile's kept statements: one prepare per SQL text, answers as right
// on the hundredth use as on the first, nesting and failures that leave the
// next user unharmed, a bounded cache, and a connection that still closes.
#include "host/profile/statement_cache.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <string>

#include "abi/host_ids.h"
#include "host/profile/host_tables.h"
#include "host/profile/sqlite_statement.h"
#include "tests/support/temp_lan.h"

namespace vask::test {
namespace {

using host::Statement;
using host::StatementCache;

// The statements the connection holds: kept ones and ones in use.
int StatementsOn(sqlite3* db) {
  int n = 0;
  for (sqlite3_stmt* s = sqlite3_next_stmt(db, nullptr); s; s = sqlite3_next_stmt(db, s)) ++n;
  return n;
}

class StatementCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(sqlite3_open(":memory:", &db_), SQLITE_OK);
    ASSERT_EQ(
        sqlite3_exec(db_, "CREATE TABLE t (k INTEGER PRIMARY KEY, v);", nullptr, nullptr, nullptr),
        SQLITE_OK);
  }
  void TearDown() override {
    cache_.Clear();
    EXPECT_EQ(sqlite3_close(db_), SQLITE_OK);
  }
  // Stores (k, v) through the cache; false when the insert failed.
  bool Insert(int64_t k, int64_t v, std::string* message = nullptr) {
    Statement s(db_, cache_, "INSERT INTO t (k, v) VALUES (?1, ?2)");
    const bool ran = s.Int(1, k).Int(2, v).Run();
    if (message) *message = s.message();
    return ran;
  }

  sqlite3* db_ = nullptr;
  StatementCache cache_;
};

// Values change between uses and every use sees the current one; a read
// left after its first row starts over at the next use; bindings do not
// carry over; a text built at run time finds the statement of its equal.
TEST_F(StatementCacheTest, EachTextIsPreparedOnceAndAnswersRightOnEveryUse) {
  ASSERT_TRUE(Insert(1, 0));
  ASSERT_TRUE(Insert(2, -1));
  for (int i = 1; i <= 100; ++i) {
    {
      Statement update(db_, cache_, "UPDATE t SET v = ?2 WHERE k = ?1");
      ASSERT_TRUE(update.Int(1, 1).Int(2, i * 7).Run());
    }
    Statement read(db_, cache_, "SELECT v FROM t WHERE k = ?1");
    ASSERT_TRUE(read.Int(1, 1).Step());
    ASSERT_EQ(read.ColumnInt(0), i * 7);
    Statement all(db_, cache_, "SELECT k FROM t ORDER BY k");
    ASSERT_TRUE(all.Step());
    ASSERT_EQ(all.ColumnInt(0), 1);  // never the row the last use stopped before
  }
  {
    Statement bound(db_, cache_, "SELECT ?1");
    ASSERT_TRUE(bound.Int(1, 42).Step());
    EXPECT_EQ(bound.ColumnInt(0), 42);
  }
  {
    Statement unbound(db_, cache_, "SELECT ?1");
    ASSERT_TRUE(unbound.Step());
    EXPECT_TRUE(unbound.ColumnIsNull(0));
  }
  const std::string built = std::string("SELECT v FROM t ") + "WHERE k = ?1";
  {
    Statement read(db_, cache_, built.c_str());
    ASSERT_TRUE(read.Int(1, 2).Step());
    EXPECT_EQ(read.ColumnInt(0), -1);
  }

  // Insert, update, read, walk and "SELECT ?1": five texts, five prepares,
  // five statements on the connection; the read ran 101 times.
  EXPECT_EQ(cache_.prepared(), 5u);
  EXPECT_EQ(StatementsOn(db_), 5);
  int reads = 0;
  for (sqlite3_stmt* s = sqlite3_next_stmt(db_, nullptr); s; s = sqlite3_next_stmt(db_, s)) {
    if (std::string(sqlite3_sql(s)) == built) {
      ++reads;
      EXPECT_EQ(sqlite3_stmt_status(s, SQLITE_STMTSTATUS_RUN, 0), 101);
    }
  }
  EXPECT_EQ(reads, 1);
}

// A text in use asked for again gets its own statement; when both are done
// one is kept and the other finalized.
TEST_F(StatementCacheTest, ANestedUseOfATextInUseGetsItsOwnStatement) {
  for (int k = 1; k <= 3; ++k) ASSERT_TRUE(Insert(k, k * 10));
  const char* walk = "SELECT k FROM t ORDER BY k";
  for (int round = 0; round < 2; ++round) {
    Statement outer(db_, cache_, walk);
    int64_t expected = 1;
    while (outer.Step()) {
      EXPECT_EQ(outer.ColumnInt(0), expected++);
      Statement inner(db_, cache_, walk);
      int rows = 0;
      while (inner.Step()) ++rows;
      EXPECT_FALSE(inner.failed()) << inner.message();
      EXPECT_EQ(rows, 3);
      EXPECT_EQ(StatementsOn(db_), 3);  // the insert's, the outer and the inner
    }
    EXPECT_FALSE(outer.failed()) << outer.message();
    EXPECT_EQ(expected, 4);
  }
  EXPECT_EQ(StatementsOn(db_), 2);
  // The insert once; the walk for the first outer and, each round, for the
  // first inner (the kept one is the outer's then); the rest was reused.
  EXPECT_EQ(cache_.prepared(), 4u);
}

// A failed step or bind keeps SQLite's message, and the next use of the same
// text runs as if the failure had never been.
TEST_F(StatementCacheTest, AFailedStatementLeavesTheNextUseOfItsTextUnharmed) {
  ASSERT_TRUE(Insert(1, 10));
  std::string message;
  EXPECT_FALSE(Insert(1, 11, &message));
  EXPECT_EQ(message, "UNIQUE constraint failed: t.k");
  EXPECT_TRUE(Insert(2, 20, &message)) << message;
  {
    Statement s(db_, cache_, "INSERT INTO t (k, v) VALUES (?1, ?2)");
    EXPECT_FALSE(s.Int(1, 3).Int(2, 30).Int(3, 0).Run());  // no third parameter
    EXPECT_EQ(s.code(), SQLITE_RANGE);
  }
  EXPECT_TRUE(Insert(3, 30, &message)) << message;
  {
    Statement bad(db_, cache_, "SELECT v FROM nowhere");
    EXPECT_TRUE(bad.failed());
    EXPECT_EQ(bad.message(), "no such table: nowhere");
  }
  Statement sum(db_, cache_, "SELECT sum(v) FROM t");
  ASSERT_TRUE(sum.Step());
  EXPECT_EQ(sum.ColumnInt(0), 60);
}

// At most the capacity's statements are kept; the least recently used text
// makes room, and a full cache still closes cleanly once cleared.
TEST(StatementCacheBoundTest, KeepsAtMostItsCapacityDroppingTheLeastRecentlyUsed) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  StatementCache cache(4);
  const std::string texts[] = {"SELECT 0", "SELECT 1", "SELECT 2", "SELECT 3", "SELECT 4"};
  auto use = [&](int i) {
    Statement s(db, cache, texts[i].c_str());
    return s.Step() && s.ColumnInt(0) == i;
  };
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(use(i));
  ASSERT_TRUE(use(0));
  EXPECT_EQ(cache.prepared(), 4u);
  ASSERT_TRUE(use(4));  // the fifth text pushes out "SELECT 1"
  EXPECT_EQ(StatementsOn(db), 4);
  ASSERT_TRUE(use(0));
  EXPECT_EQ(cache.prepared(), 5u);
  ASSERT_TRUE(use(1));
  EXPECT_EQ(cache.prepared(), 6u);
  EXPECT_EQ(StatementsOn(db), 4);

  EXPECT_EQ(sqlite3_close(db), SQLITE_BUSY);  // the kept statements hold it open
  cache.Clear();
  EXPECT_EQ(sqlite3_close(db), SQLITE_OK);
}

// The tables over kept statements: many reads and writes of changing values,
// a write refused by a trigger another program added and then accepted once
// it is gone, and at the end a close that succeeds: the last connection to a
// profile removes its write-ahead log, and one left open would keep it.
TEST(HostTablesStatementsTest, ReusedStatementsFollowTheProfileAndTheConnectionCloses) {
  const std::string dir = MakeTempDir("vask-statements");
  ASSERT_FALSE(dir.empty());
  const std::string path = dir + "/A.db";
  {
    host::HostTables tables(path, "A");
    ASSERT_TRUE(tables.ok()) << tables.error();
    const int row = tables.NewContact();
    ASSERT_EQ(row, 1);
    for (int i = 0; i < 50; ++i) {
      ASSERT_TRUE(tables.SetInt(kTableContacts, row, kColumnStatus, i));
      ASSERT_EQ(tables.GetInt(kTableContacts, row, kColumnStatus), i);
      ASSERT_EQ(tables.GetText(kTableContacts, row, kColumnStatus), std::to_string(i));
      ASSERT_EQ(tables.ContactLimit(), row + 1 + i / 10);
      if (i % 10 == 9) {
        ASSERT_GT(tables.NewContact(), 0);
      }
    }
    EXPECT_EQ(tables.GetText(kTableContacts, 0, kColumnId), "A");

    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
    auto exec = [other](const char* sql) {
      return sqlite3_exec(other, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    };
    ASSERT_TRUE(
        exec("CREATE TRIGGER frozen BEFORE INSERT ON cells "
             "BEGIN SELECT RAISE(ABORT, 'cells frozen'); END;"));
    EXPECT_FALSE(tables.SetInt(kTableContacts, row, kColumnStatus, 100));
    EXPECT_EQ(tables.GetInt(kTableContacts, row, kColumnStatus), 49);
    ASSERT_TRUE(exec("DROP TRIGGER frozen"));
    EXPECT_TRUE(tables.SetInt(kTableContacts, row, kColumnStatus, 100));
    EXPECT_EQ(tables.GetInt(kTableContacts, row, kColumnStatus), 100);
    sqlite3_close(other);
    EXPECT_TRUE(std::filesystem::exists(path + "-wal"));
  }
  EXPECT_FALSE(std::filesystem::exists(path + "-wal"));
  {
    host::HostTables again(path, "A");
    ASSERT_TRUE(again.ok()) << again.error();
    EXPECT_EQ(again.GetInt(kTableContacts, 1, kColumnStatus), 100);
  }
  RemoveTree(dir);
}

}  // namespace
}  // namespace vask::test
