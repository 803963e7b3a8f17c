// The SQLite owners the stores build on: failures reach the store's own error, also when
// opening fails; a connection waits out a lock SQLite answers busy without asking its busy
// handler; what a store writes comes back as written; the store's count of work sees every
// statement.
#include <gmock/gmock.h>
#include <sqlite3.h>
#include <velt_sqlite/connection.h>
#include <velt_sqlite/statement.h>
#include <velt_sqlite/transaction.h>

#include <atomic>
#include <string>

#include "temp_dir.h"

namespace {

using velt::sqlite::Statement;
using velt::sqlite::Transaction;

struct StoreFailure {
  int result;
  std::string reason;
};

class TestStore : public velt::sqlite::Connection {
 public:
  explicit TestStore(const std::string& path, std::atomic<uint64_t>* steps = nullptr)
      : Connection(path, kBusyTimeoutMs, steps) {
    check(open(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX));
  }

 private:
  // Long enough for any wait below to end by its lock being released, never by the timeout.
  static constexpr int kBusyTimeoutMs = 20000;

  [[noreturn]] void throwFor(int result) const override {
    throw StoreFailure{result, raw() != nullptr ? sqlite3_errmsg(raw()) : sqlite3_errstr(result)};
  }
};

std::string single(TestStore& store, const char* sql) {
  Statement query(store, sql);
  return query.step() ? query.text(0) : "<no row>";
}

TEST(SqliteOwners, FailuresReachTheStoresOwnErrorAlsoWhenOpeningFails) {
  TempDir folder;
  try {
    TestStore missing(folder / "no/such/folder/store.db");
    ADD_FAILURE() << "opened a file in a folder that does not exist";
  } catch (const StoreFailure& failure) {
    EXPECT_EQ(failure.result & 0xff, SQLITE_CANTOPEN);
  }
  TestStore store(folder / "store.db");
  try {
    store.execute("SELEKT 1");
    ADD_FAILURE() << "ran broken SQL";
  } catch (const StoreFailure& failure) {
    EXPECT_EQ(failure.result, SQLITE_ERROR);
    EXPECT_THAT(failure.reason, ::testing::HasSubstr("syntax error"));
  }
  store.execute("CREATE TABLE t(id INTEGER PRIMARY KEY, name TEXT UNIQUE)");
  Statement insert(store, "INSERT INTO t(name) VALUES (?)");
  insert.bind(1, std::string_view("a")).run();
  // A failed statement keeps its reason for the store, and runs again once its values change.
  EXPECT_THROW(insert.run(), StoreFailure);
  insert.bind(1, std::string_view("b")).run();
  EXPECT_EQ(single(store, "SELECT group_concat(name) FROM t"), "a,b");
}

// Switching a file another connection is creating to its journal mode is answered busy at
// once: the switch is tried again until the creator lets go of its lock.
TEST(SqliteOwners, AConnectionWaitsForTheOneCreatingTheFile) {
  TempDir folder;
  TestStore creator(folder / "store.db");
  creator.execute("BEGIN IMMEDIATE");
  creator.execute("CREATE TABLE t(x)");
  TestStore opener(folder / "store.db");
  // The creator commits when the opener starts its second attempt, so that the first one
  // surely met the lock.
  struct Attempts {
    TestStore& creator;
    int count = 0;
  } attempts{creator};
  sqlite3_trace_v2(
      opener.raw(), SQLITE_TRACE_STMT,
      [](unsigned, void* context, void*, void*) -> int {
        auto* seen = static_cast<Attempts*>(context);
        if (++seen->count == 2) seen->creator.execute("COMMIT");
        return 0;
      },
      &attempts);
  opener.execute("PRAGMA journal_mode=WAL");
  sqlite3_trace_v2(opener.raw(), 0, nullptr, nullptr);
  EXPECT_GE(attempts.count, 2);
  EXPECT_EQ(single(opener, "PRAGMA journal_mode"), "wal");
  EXPECT_EQ(single(opener, "SELECT count(*) FROM sqlite_master WHERE name = 't'"), "1");
}

TEST(SqliteOwners, WhatIsWrittenComesBackAsWrittenAndOnlyWhenCommitted) {
  TempDir folder;
  TestStore store(folder / "store.db");
  store.execute("CREATE TABLE v(name TEXT, data BLOB)");
  {
    Transaction dropped(store, true);
    Statement(store, "INSERT INTO v VALUES ('dropped', x'00')").run();
  }
  {
    Transaction kept(store, true);
    const char bytes[] = {'a', '\0', 'b'};
    Statement(store, "INSERT INTO v VALUES (?, ?)")
        .bind(1, std::string_view("three"))
        .bindBlob(2, bytes, sizeof bytes)
        .run();
    // An empty value is a value, not SQL NULL.
    Statement(store, "INSERT INTO v VALUES (?, ?)")
        .bind(1, std::string_view("empty"))
        .bindBlob(2, nullptr, 0)
        .run();
    kept.commit();
  }
  Statement rows(store, "SELECT name, data, typeof(data) FROM v ORDER BY name");
  ASSERT_TRUE(rows.step());
  EXPECT_EQ(rows.text(0), "empty");
  EXPECT_EQ(rows.blob(1), "");
  EXPECT_EQ(rows.text(2), "blob");
  ASSERT_TRUE(rows.step());
  EXPECT_EQ(rows.text(0), "three");
  EXPECT_EQ(rows.blob(1), std::string("a\0b", 3));
  EXPECT_FALSE(rows.step());
}

TEST(SqliteOwners, TheStoresCountOfWorkSeesEveryStatementAndVersionAsked) {
  TempDir folder;
  std::atomic<uint64_t> steps{0};
  TestStore store(folder / "store.db", &steps);
  uint64_t before = steps;
  { Statement(store, "SELECT 1").run(); }
  uint64_t afterStatement = steps;
  EXPECT_GT(afterStatement, before);
  int64_t version = store.dataVersion();
  EXPECT_GT(steps.load(), afterStatement) << "the version asked is work too";
  EXPECT_EQ(store.dataVersion(), version) << "nothing committed in between";
}

}  // namespace
