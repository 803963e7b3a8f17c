// One transaction, rolled back unless committed.
#pragma once

#include "velt_sqlite/connection.h"

namespace velt::sqlite {

// A writer takes the write lock up front, so that it never has to upgrade a read lock (which
// SQLite cannot wait for).
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

}  // namespace velt::sqlite
