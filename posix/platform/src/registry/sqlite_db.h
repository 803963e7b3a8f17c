// A thin owner of one SQLite connection and its prepared statements. Failures throw
// StoreError carrying the registry error code the API hands back and, for the user, which
// file failed and why.
#pragma once

#include <sqlite3.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace velt::registry {

struct StoreError {
  LSTATUS code;
  std::string detail;  // e.g. "cannot open the registry file /x/registry.db: Permission denied"
};

enum class Access {
  Read,   // the file as it is; never created or changed
  Write,  // created when missing, its schema brought up to date
};

class Statement;

class Connection {
 public:
  explicit Connection(const std::string& path, Access access);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  bool writable() const { return m_access == Access::Write; }
  // False for a file opened to read that holds no registry yet (an empty SQLite file).
  bool hasRegistry() const { return m_hasRegistry; }

  void execute(const char* sql);
  // Throws the StoreError for an SQLite result other than success.
  void check(int result) const;
  // Changes when another connection commits; read inside a transaction it dates that
  // transaction's view.
  int64_t dataVersion();
  int64_t lastInsertId() const { return sqlite3_last_insert_rowid(m_db); }
  int changes() const { return sqlite3_changes(m_db); }
  sqlite3* raw() const { return m_db; }
  // After fork() the child must not touch the parent's connection, not even to close it.
  void abandon() { m_db = nullptr; }

 private:
  [[noreturn]] void fail(LSTATUS code, const std::string& reason) const;

  std::string m_path;
  Access m_access;
  sqlite3* m_db = nullptr;
  bool m_hasRegistry = true;
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
  Connection& m_db;
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

// Virtual-machine steps of every statement this process has finished: the work the store did.
uint64_t statementSteps();

}  // namespace velt::registry
