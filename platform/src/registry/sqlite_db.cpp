#include "sqlite_db.h"

namespace velt::registry {
namespace {

// Long enough to outlast any writer of this store; a writer holds the lock for one call only.
constexpr int kBusyTimeoutMs = 30000;

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS reg_key(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  parent INTEGER REFERENCES reg_key(id) ON DELETE CASCADE,
  name TEXT NOT NULL COLLATE NOCASE);
CREATE UNIQUE INDEX IF NOT EXISTS reg_key_child ON reg_key(parent, name);
CREATE TABLE IF NOT EXISTS reg_value(
  key INTEGER NOT NULL REFERENCES reg_key(id) ON DELETE CASCADE,
  name TEXT NOT NULL COLLATE NOCASE,
  type INTEGER NOT NULL,
  data BLOB NOT NULL,
  PRIMARY KEY(key, name)) WITHOUT ROWID;
INSERT OR IGNORE INTO reg_key(id, parent, name) VALUES
  (1, NULL, 'HKEY_CLASSES_ROOT'), (2, NULL, 'HKEY_CURRENT_USER'),
  (3, NULL, 'HKEY_LOCAL_MACHINE'), (4, NULL, 'HKEY_USERS');
)sql";

}  // namespace

LSTATUS statusFromSqlite(int result) {
  switch (result & 0xff) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
      return ERROR_SUCCESS;
    case SQLITE_NOMEM:
      return ERROR_OUTOFMEMORY;
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return ERROR_CANTOPEN;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_SCHEMA:
      return ERROR_BADDB;
    case SQLITE_TOOBIG:
    case SQLITE_RANGE:
      return ERROR_INVALID_PARAMETER;
    default:  // busy past the timeout, I/O errors, a full disk, a read-only file
      return ERROR_CANTWRITE;
  }
}

static void check(int result) {
  if (result != SQLITE_OK) throw StoreError{statusFromSqlite(result)};
}

Connection::Connection(const std::string& path) {
  int result =
      sqlite3_open_v2(path.c_str(), &m_db,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (result != SQLITE_OK) {
    sqlite3_close(m_db);
    m_db = nullptr;
    throw StoreError{ERROR_CANTOPEN};
  }
  try {
    check(sqlite3_busy_timeout(m_db, kBusyTimeoutMs));
    execute("PRAGMA journal_mode=WAL");
    // In WAL mode NORMAL keeps the file consistent when a process dies mid-write; only a
    // power loss may forget the newest commits.
    execute("PRAGMA synchronous=NORMAL");
    execute("PRAGMA foreign_keys=ON");
    Transaction schema(*this, true);
    execute(kSchema);
    schema.commit();
  } catch (...) {
    sqlite3_close(m_db);
    m_db = nullptr;
    throw;
  }
}

Connection::~Connection() {
  if (m_db != nullptr) sqlite3_close(m_db);
}

void Connection::execute(const char* sql) {
  check(sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr));
}

Statement::Statement(Connection& db, const char* sql) {
  check(sqlite3_prepare_v2(db.raw(), sql, -1, &m_stmt, nullptr));
}

Statement::~Statement() { sqlite3_finalize(m_stmt); }

Statement& Statement::bind(int index, int64_t value) {
  check(sqlite3_bind_int64(m_stmt, index, value));
  return *this;
}

Statement& Statement::bind(int index, std::string_view text) {
  check(sqlite3_bind_text(m_stmt, index, text.data(), static_cast<int>(text.size()),
                          SQLITE_TRANSIENT));
  return *this;
}

Statement& Statement::bindBlob(int index, const void* data, size_t size) {
  // A null pointer would bind SQL NULL; an empty value is a zero-length blob.
  if (size == 0) {
    check(sqlite3_bind_zeroblob(m_stmt, index, 0));
  } else {
    check(sqlite3_bind_blob64(m_stmt, index, data, size, SQLITE_TRANSIENT));
  }
  return *this;
}

bool Statement::step() {
  int result = sqlite3_step(m_stmt);
  if (result == SQLITE_ROW) return true;
  if (result == SQLITE_DONE) return false;
  throw StoreError{statusFromSqlite(result)};
}

std::string Statement::text(int column) const {
  const unsigned char* text = sqlite3_column_text(m_stmt, column);
  int size = sqlite3_column_bytes(m_stmt, column);
  return text == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(text), size);
}

std::string Statement::blob(int column) const {
  const void* data = sqlite3_column_blob(m_stmt, column);
  int size = sqlite3_column_bytes(m_stmt, column);
  return data == nullptr ? std::string() : std::string(static_cast<const char*>(data), size);
}

Transaction::Transaction(Connection& db, bool write) : m_db(db) {
  db.execute(write ? "BEGIN IMMEDIATE" : "BEGIN");
}

Transaction::~Transaction() {
  if (m_open) sqlite3_exec(m_db.raw(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void Transaction::commit() {
  m_db.execute("COMMIT");
  m_open = false;
}

}  // namespace velt::registry
