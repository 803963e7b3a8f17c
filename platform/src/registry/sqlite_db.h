// A thin owner of one SQLite connection and its prepared statements. Failures throw
// StoreError carrying the registry error code the API hands back.
#pragma once

#include <sqlite3.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace velt::registry {

struct StoreError {
  LSTATUS code;
};

class Statement;

class Connection {
 public:
  // Opens (creating when needed) the file and brings its schema up to date.
  explicit Connection(const std::string& path);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  void execute(const char* sql);
  int64_t lastInsertId() const { return sqlite3_last_insert_rowid(m_db); }
  int changes() const { return sqlite3_changes(m_db); }
  sqlite3* raw() const { return m_db; }
  // After fork() the child must not touch the parent's connection, not even to close it.
  void abandon() { m_db = nullptr; }

 private:
  sqlite3* m_db = nullptr;
};

class Statement {
 public:
  Statement(Connection& db, const char* sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& bind(int index, int64_t value);
  Statement& bind(int index, std::string_view text);
  Statement& bindBlob(int index, const void* data, size_t size);
  // True while a row is available.
  bool step();
  int64_t integer(int column) const { return sqlite3_column_int64(m_stmt, column); }
  std::string text(int column) const;
  std::string blob(int column) const;

 private:
  sqlite3_stmt* m_stmt = nullptr;
};

// One API call is one transaction: a writer takes the write lock up front so that it never
// has to upgrade a read lock (which SQLite cannot wait for).
class Transaction {
 public:
  Transaction(Connection& db, bool write);
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  void commit();

 private:
  Connection& m_db;
  bool m_open = true;
};

// Maps an SQLite result to the code the registry API reports.
LSTATUS statusFromSqlite(int result);

}  // namespace velt::registry
