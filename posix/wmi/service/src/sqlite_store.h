// A small owner of one SQLite connection, its statements and transactions. Failures throw
// RepositoryError naming the file and SQLite's reason.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace velt::wmi::detail {

class RepositoryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Database {
 public:
  // An empty path opens a private database in memory.
  explicit Database(const std::string& path);
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  void execute(const char* sql);
  void check(int result) const;
  // Changes when another connection commits.
  int64_t dataVersion();
  sqlite3* raw() const { return m_db; }
  const std::string& path() const { return m_path; }

 private:
  std::string m_path;
  sqlite3* m_db = nullptr;
  sqlite3_stmt* m_version = nullptr;  // asked before every request: prepared once
};

class Statement {
 public:
  Statement(Database& db, const char* sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& bind(int index, int64_t value);
  Statement& bind(int index, std::string_view text);
  // True while a row is available.
  bool step();
  // Runs a statement that answers no rows.
  void run() { step(); }
  int64_t integer(int column) const { return sqlite3_column_int64(m_stmt, column); }
  std::string text(int column) const;

 private:
  Database& m_db;
  sqlite3_stmt* m_stmt = nullptr;
};

// A writer takes the write lock up front, so that it never has to upgrade a read lock (which
// SQLite cannot wait for); rolled back unless committed.
class Transaction {
 public:
  Transaction(Database& db, bool write);
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  void commit();

 private:
  Database& m_db;
  bool m_open = true;
};

}  // namespace velt::wmi::detail
