// Which crash report a session names when a provider server's VM died: the one of the servers
// it reached, newest first, beside the server.
#include <gtest/gtest.h>

#include "crash_report.h"
#include "temp_dir.h"

namespace veltwmi::test {
namespace {

TEST(VeltwmiCrashReport, OnlyAReachedServersReportBesideTheServerNewestFirst) {
  TempDir folder;
  std::string server = folder / "VeltProxyProvider";
  // Process ids no test process has: a report of an unknown process is someone else's.
  folder.touch("hs_err_pid999999991.log");
  EXPECT_EQ(findCrashReport(server, {999999990}), std::nullopt);
  EXPECT_EQ(findCrashReport(server, {}), std::nullopt);

  EXPECT_EQ(findCrashReport(server, {999999991}), folder / "hs_err_pid999999991.log");
  folder.touch("hs_err_pid999999992.log");
  // The session reached 991 first, then its successor 992, whose death it saw last.
  EXPECT_EQ(findCrashReport(server, {999999991, 999999992}), folder / "hs_err_pid999999992.log");
}

// A client of the shared service never learns its servers' process ids: a report written while
// its command ran is the one, and an older one is not.
TEST(VeltwmiCrashReport, ForAClientOfTheSharedServiceOnlyAReportSinceItsStartBesideTheServer) {
  namespace fs = std::filesystem;
  TempDir folder;
  std::string server = folder / "VeltProxyProvider";
  std::string old = folder.touch("hs_err_pid999999981.log");
  const auto started = fs::last_write_time(old) + std::chrono::seconds(10);
  EXPECT_EQ(findCrashReportSince(server, started), std::nullopt);
  folder.touch("hs_err_pid999999982.txt");
  std::string fresh = folder.touch("hs_err_pid999999983.log");
  fs::last_write_time(fresh, started + std::chrono::seconds(1));
  EXPECT_EQ(findCrashReportSince(server, started), fresh);
}

}  // namespace
}  // namespace veltwmi::test
