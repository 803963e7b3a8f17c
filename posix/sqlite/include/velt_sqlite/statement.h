// A prepared statement of one connection; failures throw the connection's store error.
#pragma once

#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "velt_sqlite/connection.h"

namespace velt::sqlite {

class Statement {
 public:
  Statement(Connection& db, const char* sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& bind(int index, int64_t value);
  Statement& bind(int index, std::string_view text);
  Statement& bindBlob(int index, const void* data, std::size_t size);
  // True while a row is available; at the end, or on a failure, the statement is reset so
  // that it holds no lock and runs afresh when stepped again.
  bool step();
  // Runs a statement that answers no rows.
  void run() { step(); }
  int64_t integer(int column) const { return sqlite3_column_int64(m_stmt, column); }
  std::string text(int column) const;
  std::string blob(int column) const;

 private:
  Connection& m_db;
  sqlite3_stmt* m_stmt = nullptr;
};

}  // namespace velt::sqlite
