#include "crash_report.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

#include <winplatform/posix_hooks.h>

namespace veltwmi {

std::optional<std::string> findCrashReport(const std::string& serverExecutablePath,
                                           const std::vector<unsigned long>& processIds) {
  namespace fs = std::filesystem;
  fs::path server = fs::path(serverExecutablePath).parent_path();
  std::error_code ignored;
  fs::path current = fs::current_path(ignored);
  // The newest server first: it is the one whose death the session saw last.
  for (auto id = processIds.rbegin(); id != processIds.rend(); ++id) {
    std::string name = "hs_err_pid" + std::to_string(*id) + ".log";
    for (const fs::path& folder : {server, current, fs::path("/tmp")}) {
      if (folder.empty()) continue;
      fs::path report = folder / name;
      if (fs::exists(report, ignored)) return fs::absolute(report, ignored).string();
    }
  }
  return std::nullopt;
}

std::optional<std::string> findCrashReport(const std::string& serverExecutablePath) {
  std::vector<unsigned long> ids{static_cast<unsigned long>(getpid())};
  std::vector<DWORD> servers(VeltReachedLocalServers(nullptr, 0));
  DWORD filled = VeltReachedLocalServers(servers.data(), static_cast<DWORD>(servers.size()));
  servers.resize(std::min<std::size_t>(filled, servers.size()));  // more may have come since
  ids.insert(ids.end(), servers.begin(), servers.end());
  return findCrashReport(serverExecutablePath, ids);
}

std::optional<std::string> findCrashReportSince(const std::string& serverExecutablePath,
                                                std::filesystem::file_time_type since) {
  namespace fs = std::filesystem;
  std::error_code ignored;
  fs::path server = fs::path(serverExecutablePath).parent_path();
  std::optional<fs::path> newest;
  fs::file_time_type newestTime{};
  for (const fs::path& folder : {server, fs::path("/tmp")}) {
    if (folder.empty()) continue;
    std::error_code listing;
    for (fs::directory_iterator entry(folder, listing), end; !listing && entry != end;
         entry.increment(listing)) {
      std::string name = entry->path().filename().string();
      if (name.rfind("hs_err_pid", 0) != 0 || entry->path().extension() != ".log") continue;
      std::error_code unreadable;
      fs::file_time_type written = entry->last_write_time(unreadable);
      if (unreadable || written < since || (newest && written <= newestTime)) continue;
      newest = entry->path();
      newestTime = written;
    }
  }
  if (!newest) return std::nullopt;
  return fs::absolute(*newest, ignored).string();
}

}  // namespace veltwmi
