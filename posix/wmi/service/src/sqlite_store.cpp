#include "sqlite_store.h"

namespace velt::wmi::detail {
namespace {

// A compile holds the write lock for one file; other writers wait that long at most.
constexpr int kBusyTimeoutMs = 60000;

}  // namespace

Database::Database(const std::string& path) : path_(path.empty() ? ":memory:" : path) {
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
  int result = sqlite3_open_v2(path_.c_str(), &db_, flags, nullptr);
  if (result != SQLITE_OK) {
    std::string reason = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(result);
    sqlite3_close(db_);
    db_ = nullptr;
    throw RepositoryError("cannot open the repository " + path_ + ": " + reason);
  }
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  sqlite3_extended_result_codes(db_, 1);
}

Database::~Database() {
  sqlite3_finalize(version_);
  sqlite3_close(db_);
}

void Database::check(int result) const {
  if (result == SQLITE_OK || result == SQLITE_ROW || result == SQLITE_DONE) return;
  throw RepositoryError("the repository " + path_ + ": " + sqlite3_errmsg(db_));
}

void Database::execute(const char* sql) {
  check(sqlite3_exec(db_, sql, nullptr, nullptr, nullptr));
}

int64_t Database::dataVersion() {
  if (!version_) check(sqlite3_prepare_v2(db_, "PRAGMA data_version", -1, &version_, nullptr));
  int result = sqlite3_step(version_);
  int64_t version = result == SQLITE_ROW ? sqlite3_column_int64(version_, 0) : 0;
  sqlite3_reset(version_);
  if (result != SQLITE_ROW) check(result);
  return version;
}

Statement::Statement(Database& db, const char* sql) : db_(db) {
  db_.check(sqlite3_prepare_v2(db_.raw(), sql, -1, &stmt_, nullptr));
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

Statement& Statement::bind(int index, int64_t value) {
  db_.check(sqlite3_bind_int64(stmt_, index, value));
  return *this;
}

Statement& Statement::bind(int index, std::string_view text) {
  db_.check(
      sqlite3_bind_text64(stmt_, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8));
  return *this;
}

bool Statement::step() {
  int result = sqlite3_step(stmt_);
  if (result == SQLITE_ROW) return true;
  sqlite3_reset(stmt_);
  db_.check(result);
  return false;
}

std::string Statement::text(int column) const {
  const unsigned char* data = sqlite3_column_text(stmt_, column);
  if (!data) return {};
  return std::string(reinterpret_cast<const char*>(data),
                     static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)));
}

Transaction::Transaction(Database& db, bool write) : db_(db) {
  db_.execute(write ? "BEGIN IMMEDIATE" : "BEGIN");
}

Transaction::~Transaction() {
  if (open_) sqlite3_exec(db_.raw(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void Transaction::commit() {
  db_.execute("COMMIT");
  open_ = false;
}

}  // namespace velt::wmi::detail
