#include "velt_sqlite/connection.h"

#include <chrono>
#include <thread>
#include <utility>

namespace velt::sqlite {

Connection::Connection(std::string path, int busyTimeoutMs, std::atomic<uint64_t>* stepCounter)
    : m_path(std::move(path)), m_busyTimeoutMs(busyTimeoutMs), m_steps(stepCounter) {}

Connection::~Connection() {
  sqlite3_finalize(m_version);
  if (m_db != nullptr) sqlite3_close(m_db);
}

int Connection::open(int flags) {
  int result = sqlite3_open_v2(m_path.c_str(), &m_db, flags, nullptr);
  if (result != SQLITE_OK) return result;
  return sqlite3_busy_timeout(m_db, m_busyTimeoutMs);
}

void Connection::abandon() {
  m_version = nullptr;
  m_db = nullptr;
}

void Connection::check(int result) const {
  if (result == SQLITE_OK || result == SQLITE_ROW || result == SQLITE_DONE) return;
  throwFor(result);
}

void Connection::execute(const char* sql) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(m_busyTimeoutMs);
  int result = sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr);
  while ((result & 0xff) == SQLITE_BUSY && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    result = sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr);
  }
  check(result);
}

int64_t Connection::dataVersion() {
  if (m_version == nullptr) {
    check(sqlite3_prepare_v2(m_db, "PRAGMA data_version", -1, &m_version, nullptr));
  }
  int result = sqlite3_step(m_version);
  int64_t version = result == SQLITE_ROW ? sqlite3_column_int64(m_version, 0) : 0;
  if (result != SQLITE_ROW) check(result);
  sqlite3_reset(m_version);
  if (m_steps != nullptr) *m_steps += sqlite3_stmt_status(m_version, SQLITE_STMTSTATUS_VM_STEP, 1);
  return version;
}

}  // namespace velt::sqlite
