#include "crash_report.h"

#include <unistd.h>

#include <filesystem>
#include <system_error>

namespace veltwmi {

std::optional<std::string> findCrashReport(const std::string& serverExecutablePath) {
  namespace fs = std::filesystem;
  std::string name = "hs_err_pid" + std::to_string(getpid()) + ".log";
  fs::path server = fs::path(serverExecutablePath).parent_path();
  std::error_code ignored;
  fs::path current = fs::current_path(ignored);
  for (const fs::path& folder : {server, current, fs::path("/tmp")}) {
    if (folder.empty()) continue;
    fs::path report = folder / name;
    if (fs::exists(report, ignored)) return fs::absolute(report, ignored).string();
  }
  return std::nullopt;
}

}  // namespace veltwmi
