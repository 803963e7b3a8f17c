// One open SQLite connection. The store built on it decides what a failure becomes: every
// failure reaches its throwFor(), which throws the store's own error.
#pragma once

#include <sqlite3.h>

#include <atomic>
#include <cstdint>
#include <string>

namespace velt::sqlite {

class Connection {
 public:
  virtual ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Runs SQL that answers no rows. Some locks are answered busy without the busy handler
  // being asked (switching a database that another connection is creating to its journal
  // mode, say); those are tried again here until the busy timeout has passed, so that
  // connections opening a fresh file at once all open it.
  void execute(const char* sql);
  // Returns for success, a row or the end of the rows; throws the store's error otherwise.
  void check(int result) const;
  // Changes when another connection commits; read inside a transaction it dates that
  // transaction's view. Asked before every request, so prepared once.
  int64_t dataVersion();
  int64_t lastInsertId() const { return sqlite3_last_insert_rowid(m_db); }
  int changes() const { return sqlite3_changes(m_db); }
  sqlite3* raw() const { return m_db; }
  const std::string& path() const { return m_path; }
  // After fork() the child must not touch the parent's connection, not even to close it.
  void abandon();
  // Where the statements of this connection add their virtual-machine steps, if anywhere.
  std::atomic<uint64_t>* stepCounter() const { return m_steps; }

 protected:
  // Opens nothing yet: the derived store opens, so that its throwFor() is in place when
  // opening fails.
  Connection(std::string path, int busyTimeoutMs, std::atomic<uint64_t>* stepCounter = nullptr);
  // sqlite3_open_v2 with `flags`; on success also sets the busy timeout. The handle is closed
  // with this object, also when opening failed.
  int open(int flags);
  // Throws the store's error for `result`, a failure of this connection.
  [[noreturn]] virtual void throwFor(int result) const = 0;

 private:
  std::string m_path;
  int m_busyTimeoutMs;
  std::atomic<uint64_t>* m_steps;
  sqlite3* m_db = nullptr;
  sqlite3_stmt* m_version = nullptr;
};

}  // namespace velt::sqlite
