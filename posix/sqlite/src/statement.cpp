#include "velt_sqlite/statement.h"

namespace velt::sqlite {

Statement::Statement(Connection& db, const char* sql) : m_db(db) {
  m_db.check(sqlite3_prepare_v2(db.raw(), sql, -1, &m_stmt, nullptr));
}

Statement::~Statement() {
  if (m_stmt != nullptr && m_db.stepCounter() != nullptr) {
    *m_db.stepCounter() += sqlite3_stmt_status(m_stmt, SQLITE_STMTSTATUS_VM_STEP, 0);
  }
  sqlite3_finalize(m_stmt);
}

Statement& Statement::bind(int index, int64_t value) {
  m_db.check(sqlite3_bind_int64(m_stmt, index, value));
  return *this;
}

Statement& Statement::bind(int index, std::string_view text) {
  m_db.check(
      sqlite3_bind_text64(m_stmt, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8));
  return *this;
}

Statement& Statement::bindBlob(int index, const void* data, std::size_t size) {
  // A null pointer would bind SQL NULL; an empty value is a zero-length blob.
  if (size == 0) {
    m_db.check(sqlite3_bind_zeroblob(m_stmt, index, 0));
  } else {
    m_db.check(sqlite3_bind_blob64(m_stmt, index, data, size, SQLITE_TRANSIENT));
  }
  return *this;
}

bool Statement::step() {
  int result = sqlite3_step(m_stmt);
  if (result == SQLITE_ROW) return true;
  // Reset only once the store has taken the reason for a failure: resetting rewrites the
  // connection's error.
  struct ResetAfter {
    sqlite3_stmt* stmt;
    ~ResetAfter() { sqlite3_reset(stmt); }
  } reset{m_stmt};
  m_db.check(result);
  return false;
}

std::string Statement::text(int column) const {
  const unsigned char* data = sqlite3_column_text(m_stmt, column);
  if (data == nullptr) return {};
  return std::string(reinterpret_cast<const char*>(data),
                     static_cast<std::size_t>(sqlite3_column_bytes(m_stmt, column)));
}

std::string Statement::blob(int column) const {
  const void* data = sqlite3_column_blob(m_stmt, column);
  if (data == nullptr) return {};
  return std::string(static_cast<const char*>(data),
                     static_cast<std::size_t>(sqlite3_column_bytes(m_stmt, column)));
}

}  // namespace velt::sqlite
