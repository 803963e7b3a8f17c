// The repository's SQLite connection. Failures throw RepositoryError naming the file and
// SQLite's reason.
#pragma once

#include <velt_sqlite/connection.h>
#include <velt_sqlite/statement.h>
#include <velt_sqlite/transaction.h>

#include <stdexcept>
#include <string>

namespace velt::wmi::detail {

class RepositoryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Database : public sqlite::Connection {
 public:
  // An empty path opens a private database in memory.
  explicit Database(const std::string& path);

 private:
  [[noreturn]] void throwFor(int result) const override;
};

using sqlite::Statement;
using sqlite::Transaction;

}  // namespace velt::wmi::detail
