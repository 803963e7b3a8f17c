#include "sqlite_store.h"

namespace velt::wmi::detail {
namespace {

// A compile holds the write lock for one file; other writers wait that long at most.
constexpr int kBusyTimeoutMs = 60000;

}  // namespace

Database::Database(const std::string& path)
    : sqlite::Connection(path.empty() ? ":memory:" : path, kBusyTimeoutMs) {
  int result = open(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX);
  if (result != SQLITE_OK) {
    std::string reason = raw() ? sqlite3_errmsg(raw()) : sqlite3_errstr(result);
    throw RepositoryError("cannot open the repository " + this->path() + ": " + reason);
  }
  sqlite3_extended_result_codes(raw(), 1);
}

void Database::throwFor(int) const {
  throw RepositoryError("the repository " + path() + ": " + sqlite3_errmsg(raw()));
}

}  // namespace velt::wmi::detail
