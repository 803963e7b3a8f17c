// The registry's SQLite connection. Failures throw StoreError carrying the registry error code
// the API hands back and, for the user, which file failed and why.
#pragma once

#include <sqlite3.h>
#include <velt_sqlite/connection.h>
#include <velt_sqlite/statement.h>
#include <velt_sqlite/transaction.h>
#include <windows.h>

#include <cstdint>
#include <string>

namespace velt::registry {

struct StoreError {
  LSTATUS code;
  std::string detail;  // e.g. "cannot open the registry file /x/registry.db: Permission denied"
};

enum class Access {
  Read,   // the file as it is; never created or changed
  Write,  // created when missing, its schema brought up to date
};

class Connection : public sqlite::Connection {
 public:
  explicit Connection(const std::string& path, Access access);

  bool writable() const { return m_access == Access::Write; }
  // False for a file opened to read that holds no registry yet (an empty SQLite file).
  bool hasRegistry() const { return m_hasRegistry; }

 private:
  [[noreturn]] void throwFor(int result) const override;
  [[noreturn]] void fail(LSTATUS code, const std::string& reason) const;

  Access m_access;
  bool m_hasRegistry = true;
};

using sqlite::Statement;
// One API call is one transaction.
using sqlite::Transaction;

// Maps an SQLite result to the code the registry API reports.
LSTATUS statusFromSqlite(int result);

// Virtual-machine steps of every statement this process has finished: the work the store did.
uint64_t statementSteps();

}  // namespace velt::registry
