#include "sqlite_db.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "key_path.h"

namespace velt::registry {
namespace {

// Long enough to outlast any writer of this store; a writer holds the lock for one call only.
constexpr int kBusyTimeoutMs = 30000;

// Names are looked up and ordered by their folded form (velt_fold), so that they compare
// without regard to case beyond ASCII; the NOCASE columns and index date from before and
// still hold, since names equal under NOCASE fold alike.
constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS reg_key(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  parent INTEGER REFERENCES reg_key(id) ON DELETE CASCADE,
  name TEXT NOT NULL COLLATE NOCASE);
CREATE UNIQUE INDEX IF NOT EXISTS reg_key_child ON reg_key(parent, name);
CREATE UNIQUE INDEX IF NOT EXISTS reg_key_fold ON reg_key(parent, velt_fold(name));
CREATE TABLE IF NOT EXISTS reg_value(
  key INTEGER NOT NULL REFERENCES reg_key(id) ON DELETE CASCADE,
  name TEXT NOT NULL COLLATE NOCASE,
  type INTEGER NOT NULL,
  data BLOB NOT NULL,
  PRIMARY KEY(key, name)) WITHOUT ROWID;
CREATE UNIQUE INDEX IF NOT EXISTS reg_value_fold ON reg_value(key, velt_fold(name));
INSERT OR IGNORE INTO reg_key(id, parent, name) VALUES
  (1, NULL, 'HKEY_CLASSES_ROOT'), (2, NULL, 'HKEY_CURRENT_USER'),
  (3, NULL, 'HKEY_LOCAL_MACHINE'), (4, NULL, 'HKEY_USERS');
)sql";

std::atomic<uint64_t> g_steps{0};

void foldFunction(sqlite3_context* context, int, sqlite3_value** arguments) {
  const unsigned char* text = sqlite3_value_text(arguments[0]);
  if (text == nullptr) {
    sqlite3_result_null(context);
    return;
  }
  std::string folded = foldName(
      std::string_view(reinterpret_cast<const char*>(text), sqlite3_value_bytes(arguments[0])));
  sqlite3_result_text(context, folded.data(), static_cast<int>(folded.size()), SQLITE_TRANSIENT);
}

std::string prefixFor(LSTATUS code, const std::string& path) {
  switch (code) {
    case ERROR_CANTOPEN:
      return "cannot open the registry file " + path;
    case ERROR_BADDB:
      return "the registry file " + path + " is damaged or is no registry";
    case ERROR_CANTREAD:
      return "cannot read the registry file " + path;
    case ERROR_CANTWRITE:
      return "cannot write the registry file " + path;
    default:
      return "the registry file " + path;
  }
}

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

uint64_t statementSteps() { return g_steps.load(); }

Connection::Connection(const std::string& path, Access access) : m_path(path), m_access(access) {
  int flags =
      SQLITE_OPEN_NOMUTEX |
      (access == Access::Write ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY);
  int result = sqlite3_open_v2(path.c_str(), &m_db, flags, nullptr);
  try {
    check(result);
    check(sqlite3_create_function_v2(m_db, "velt_fold", 1,
                                     SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS, nullptr,
                                     foldFunction, nullptr, nullptr, nullptr));
    check(sqlite3_busy_timeout(m_db, kBusyTimeoutMs));
    execute("PRAGMA foreign_keys=ON");
    if (access == Access::Read) {
      Statement tables(*this,
                       "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'reg_key'");
      m_hasRegistry = tables.step();
      return;
    }
    // SQLite quietly opens a file it may not write for reading only.
    if (sqlite3_db_readonly(m_db, "main") == 1) {
      fail(ERROR_CANTWRITE,
           ::access(path.c_str(), W_OK) != 0 ? std::strerror(errno) : "opened read-only");
    }
    execute("PRAGMA journal_mode=WAL");
    // In WAL mode NORMAL keeps the file consistent when a process dies mid-write; only a
    // power loss may forget the newest commits.
    execute("PRAGMA synchronous=NORMAL");
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

void Connection::fail(LSTATUS code, const std::string& reason) const {
  throw StoreError{code, prefixFor(code, m_path) + ": " + reason};
}

void Connection::check(int result) const {
  if (result == SQLITE_OK) return;
  LSTATUS code = statusFromSqlite(result);
  // A reader that fails for want of I/O could not read, whatever SQLite calls it.
  if (code == ERROR_CANTWRITE && m_access == Access::Read) code = ERROR_CANTREAD;
  if (m_db == nullptr) fail(code, sqlite3_errstr(result));
  // SQLite's own text says what it met; the system's error, when there is one, says why.
  std::string reason = sqlite3_errmsg(m_db);
  if (int error = sqlite3_system_errno(m_db); error != 0) {
    reason += std::string(" (") + std::strerror(error) + ")";
  }
  fail(code, reason);
}

void Connection::execute(const char* sql) {
  check(sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr));
}

int64_t Connection::dataVersion() {
  Statement version(*this, "PRAGMA data_version");
  version.step();
  return version.integer(0);
}

Statement::Statement(Connection& db, const char* sql) : m_db(db) {
  m_db.check(sqlite3_prepare_v2(db.raw(), sql, -1, &m_stmt, nullptr));
}

Statement::~Statement() {
  if (m_stmt != nullptr) g_steps += sqlite3_stmt_status(m_stmt, SQLITE_STMTSTATUS_VM_STEP, 0);
  sqlite3_finalize(m_stmt);
}

Statement& Statement::bind(int index, int64_t value) {
  m_db.check(sqlite3_bind_int64(m_stmt, index, value));
  return *this;
}

Statement& Statement::bind(int index, std::string_view text) {
  m_db.check(sqlite3_bind_text(m_stmt, index, text.data(), static_cast<int>(text.size()),
                               SQLITE_TRANSIENT));
  return *this;
}

Statement& Statement::bindBlob(int index, const void* data, size_t size) {
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
  if (result == SQLITE_DONE) return false;
  m_db.check(result);
  return false;
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
