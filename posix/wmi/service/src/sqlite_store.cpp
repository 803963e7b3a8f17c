#include "sqlite_store.h"

#include <chrono>
#include <thread>

namespace velt::wmi::detail {
namespace {

// A compile holds the write lock for one file; other writers wait that long at most.
constexpr int kBusyTimeoutMs = 60000;

}  // namespace

Database::Database(const std::string& path) : m_path(path.empty() ? ":memory:" : path) {
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
  int result = sqlite3_open_v2(m_path.c_str(), &m_db, flags, nullptr);
  if (result != SQLITE_OK) {
    std::string reason = m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(result);
    sqlite3_close(m_db);
    m_db = nullptr;
    throw RepositoryError("cannot open the repository " + m_path + ": " + reason);
  }
  sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
  sqlite3_extended_result_codes(m_db, 1);
}

Database::~Database() {
  sqlite3_finalize(m_version);
  sqlite3_close(m_db);
}

void Database::check(int result) const {
  if (result == SQLITE_OK || result == SQLITE_ROW || result == SQLITE_DONE) return;
  throw RepositoryError("the repository " + m_path + ": " + sqlite3_errmsg(m_db));
}

void Database::execute(const char* sql) {
  // Some locks are answered busy without the busy handler being asked: switching a database
  // that another connection is creating to its journal mode, say. Those wait here instead, so
  // two commands starting at once on a fresh repository both open it.
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMs);
  int result = sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr);
  while ((result & 0xff) == SQLITE_BUSY && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    result = sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr);
  }
  check(result);
}

int64_t Database::dataVersion() {
  if (!m_version) check(sqlite3_prepare_v2(m_db, "PRAGMA data_version", -1, &m_version, nullptr));
  int result = sqlite3_step(m_version);
  int64_t version = result == SQLITE_ROW ? sqlite3_column_int64(m_version, 0) : 0;
  sqlite3_reset(m_version);
  if (result != SQLITE_ROW) check(result);
  return version;
}

Statement::Statement(Database& db, const char* sql) : m_db(db) {
  m_db.check(sqlite3_prepare_v2(m_db.raw(), sql, -1, &m_stmt, nullptr));
}

Statement::~Statement() { sqlite3_finalize(m_stmt); }

Statement& Statement::bind(int index, int64_t value) {
  m_db.check(sqlite3_bind_int64(m_stmt, index, value));
  return *this;
}

Statement& Statement::bind(int index, std::string_view text) {
  m_db.check(
      sqlite3_bind_text64(m_stmt, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8));
  return *this;
}

bool Statement::step() {
  int result = sqlite3_step(m_stmt);
  if (result == SQLITE_ROW) return true;
  sqlite3_reset(m_stmt);
  m_db.check(result);
  return false;
}

std::string Statement::text(int column) const {
  const unsigned char* data = sqlite3_column_text(m_stmt, column);
  if (!data) return {};
  return std::string(reinterpret_cast<const char*>(data),
                     static_cast<std::size_t>(sqlite3_column_bytes(m_stmt, column)));
}

Transaction::Transaction(Database& db, bool write) : m_db(db) {
  m_db.execute(write ? "BEGIN IMMEDIATE" : "BEGIN");
}

Transaction::~Transaction() {
  if (m_open) sqlite3_exec(m_db.raw(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void Transaction::commit() {
  m_db.execute("COMMIT");
  m_open = false;
}

}  // namespace velt::wmi::detail
