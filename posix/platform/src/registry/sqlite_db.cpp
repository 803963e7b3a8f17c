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

Connection::Connection(const std::string& path, Access access)
    : sqlite::Connection(path, kBusyTimeoutMs, &g_steps), m_access(access) {
  int flags =
      SQLITE_OPEN_NOMUTEX |
      (access == Access::Write ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY);
  check(open(flags));
  check(sqlite3_create_function_v2(raw(), "velt_fold", 1,
                                   SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS, nullptr,
                                   foldFunction, nullptr, nullptr, nullptr));
  execute("PRAGMA foreign_keys=ON");
  if (access == Access::Read) {
    Statement tables(*this,
                     "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'reg_key'");
    m_hasRegistry = tables.step();
    return;
  }
  // SQLite quietly opens a file it may not write for reading only.
  if (sqlite3_db_readonly(raw(), "main") == 1) {
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
}

void Connection::fail(LSTATUS code, const std::string& reason) const {
  throw StoreError{code, prefixFor(code, path()) + ": " + reason};
}

void Connection::throwFor(int result) const {
  LSTATUS code = statusFromSqlite(result);
  // A reader that fails for want of I/O could not read, whatever SQLite calls it.
  if (code == ERROR_CANTWRITE && m_access == Access::Read) code = ERROR_CANTREAD;
  if (raw() == nullptr) fail(code, sqlite3_errstr(result));
  // SQLite's own text says what it met; the system's error, when there is one, says why.
  std::string reason = sqlite3_errmsg(raw());
  if (int error = sqlite3_system_errno(raw()); error != 0) {
    reason += std::string(" (") + std::strerror(error) + ")";
  }
  fail(code, reason);
}

}  // namespace velt::registry
