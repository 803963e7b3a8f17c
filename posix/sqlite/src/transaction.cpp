#include "velt_sqlite/transaction.h"

namespace velt::sqlite {

Transaction::Transaction(Connection& db, bool write) : m_db(db) {
  m_db.execute(write ? "BEGIN IMMEDIATE" : "BEGIN");
}

Transaction::~Transaction() {
  if (m_open) sqlite3_exec(m_db.raw(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void Transaction::commit() {
  m_db.execute("COMMIT");
  m_open = false;
}

}  // namespace velt::sqlite
