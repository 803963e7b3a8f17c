// The WMI service as one daemon for every client: clients in processes of their own start it
// through COM, share its state and events, let it end when idle, and leave nothing behind in
// it. (A daemon killed under a watch: veltwmi's client test.)
#include "daemon_fixture.h"

namespace veltwmid::test {
namespace {

// A subscription the service filters stands behind a filter of its own: cancelling it from
// another process (whose sink arrives as another proxy) and that process's end still find it.
TEST_F(DaemonProcessTest, AFilteredWatchEndsOnCancelAndWithItsClient) {
  configure(1, 1);
  const std::string query = "select * from GadgetChanged where Size = 3";
  auto cancelling = client({"watch", query});
  ASSERT_EQ(cancelling->nextLine(), "watching");
  EXPECT_EQ(ask({"put", "small", "2"}).second, 0);
  EXPECT_EQ(ask({"put", "seen", "3"}).second, 0);
  EXPECT_EQ(cancelling->nextLine(), "event seen") << "the filter passes only what it selects";
  cancelling->closeInput();
  EXPECT_EQ(cancelling->nextLine(), "cancelled 0x00000000");
  EXPECT_EQ(cancelling->exitCode(), 0);

  auto killed = client({"watch", query});
  ASSERT_EQ(killed->nextLine(), "watching");
  killed->killHard();
  EXPECT_TRUE(within(seconds(20), [&] { return processesOf(m_gadgetServer).empty(); }))
      << "a subscription outlives its client and keeps its provider";
  EXPECT_TRUE(within(seconds(20), [&] { return processesOf(m_daemon).empty(); }));
}

// The provider goes after its idle time unless a subscription uses it, and the daemon goes
// after its own once no client and no provider remains.
TEST_F(DaemonProcessTest, ProviderAndDaemonEndAfterTheirIdleTimesButNotWhileAWatchRuns) {
  configure(1, 1);
  auto watcher = client({"watch"});
  ASSERT_EQ(watcher->nextLine(), "watching");
  EXPECT_EQ(ask({"get", "g1"}).first, "1");
  const pid_t daemon = theDaemon();
  std::this_thread::sleep_for(seconds(3));  // both idle times, twice over
  EXPECT_EQ(processesOf(m_daemon), std::vector<pid_t>{daemon});
  EXPECT_EQ(processesOf(m_gadgetServer).size(), 1u) << "the subscription keeps its provider";

  watcher->closeInput();
  EXPECT_EQ(watcher->nextLine(), "cancelled 0x00000000");
  EXPECT_EQ(watcher->exitCode(), 0);
  EXPECT_TRUE(within(seconds(20), [&] { return processesOf(m_gadgetServer).empty(); }))
      << "the idle provider was released and its server ended";
  EXPECT_TRUE(within(seconds(20), [&] { return processesOf(m_daemon).empty(); }))
      << "the idle daemon ended";
}

// A client killed in the middle of a watch leaves nothing behind: its subscription ends with its
// connection, so the provider and then the daemon go as though it had cancelled.
TEST_F(DaemonProcessTest, AClientKilledDuringAWatchLetsProviderAndDaemonEnd) {
  configure(1, 1);
  auto watcher = client({"watch"});
  ASSERT_EQ(watcher->nextLine(), "watching");
  EXPECT_EQ(ask({"put", "seen", "3"}).second, 0);
  EXPECT_EQ(watcher->nextLine(), "event seen");
  ASSERT_EQ(processesOf(m_gadgetServer).size(), 1u);
  watcher->killHard();
  EXPECT_TRUE(within(seconds(20), [&] { return processesOf(m_gadgetServer).empty(); }))
      << "the dead client's subscription still keeps its provider";
  EXPECT_TRUE(within(seconds(20), [&] { return processesOf(m_daemon).empty(); }))
      << "the daemon still counts the dead client's objects";
}

// Run by a service manager, the daemon serves the clients as one they started would, stays when
// idle, and ends on SIGTERM.
TEST_F(DaemonProcessTest, InTheForegroundItServesStaysWhenIdleAndEndsOnRequest) {
  configure(1, 1);
  ChildProcess daemon(m_daemon, {"--foreground"});
  ASSERT_TRUE(within(seconds(20), [&] {
    return fs::exists(m_folder.path() / "norvexvelt" /
                      "{4862BE01-262C-4E30-B690-96DCE2657A73}.sock");
  }));
  EXPECT_EQ(ask({"get", "g1"}), std::make_pair(std::string("1"), std::optional<int>(0)));
  EXPECT_EQ(processesOf(m_daemon), std::vector<pid_t>{daemon.pid()}) << "no other daemon started";
  EXPECT_TRUE(within(seconds(20), [&] { return processesOf(m_gadgetServer).empty(); }))
      << "its idle provider is released all the same";
  std::this_thread::sleep_for(seconds(2));  // the daemon's idle time, twice over
  EXPECT_FALSE(daemon.exitCode(seconds(0)).has_value());
  daemon.signal(SIGTERM);
  EXPECT_EQ(daemon.exitCode(), 0);
}

// What follows `mark` on each line of a process's log that has it.
std::vector<std::string> logged(const std::string& log, const std::string& mark) {
  std::ifstream in(log);
  std::vector<std::string> found;
  for (std::string line; std::getline(in, line);) {
    auto at = line.find(mark);
    if (at != std::string::npos) found.push_back(line.substr(at + mark.size()));
  }
  return found;
}

// Clients come and go as they please, each mixing every kind of request with the others: once
// they are gone the provider and then the daemon end by their idle times, and neither process
// holds an object that a client or request left behind.
TEST_F(DaemonProcessTest, SixteenClientsAtOnceGetEveryOutcomeRightAndLeaveNothingBehind) {
  configure(1, 1);
  std::vector<std::unique_ptr<ChildProcess>> clients;
  for (int i = 0; i < 16; ++i) clients.push_back(client({"mixed", "3"}));
  std::vector<std::optional<int>> codes(clients.size());
  within(seconds(300), [&] {
    bool all = true;
    for (std::size_t i = 0; i < clients.size(); ++i) {
      if (!codes[i]) codes[i] = clients[i]->exitCode(seconds(0));
      all = all && codes[i].has_value();
    }
    return all;
  });
  EXPECT_EQ(codes, std::vector<std::optional<int>>(clients.size(), 0)) << "every outcome right";

  EXPECT_TRUE(within(seconds(30), [&] { return processesOf(m_gadgetServer).empty(); }));
  EXPECT_TRUE(within(seconds(30), [&] { return processesOf(m_daemon).empty(); }));
  const std::string daemonLog = m_daemon + ".console.log";
  EXPECT_EQ(logged(daemonLog, ": serving").size(), 1u) << "one daemon served them all";
  EXPECT_EQ(logged(daemonLog, "objects left: "), std::vector<std::string>{"0"});
  EXPECT_EQ(logged(daemonLog, "proxies and stubs left: "), std::vector<std::string>{"0 and 0"});
  const std::string serverLog = m_gadgetServer + ".console.log";
  const std::vector<std::string> left = logged(serverLog, "objects left: ");
  EXPECT_FALSE(left.empty());
  EXPECT_EQ(left, std::vector<std::string>(left.size(), "0"))
      << "in every run of the provider's server";
  const std::vector<std::string> remote = logged(serverLog, "proxies and stubs left: ");
  EXPECT_EQ(remote, std::vector<std::string>(left.size(), "0 and 0"))
      << "in every run of the provider's server";
}

}  // namespace
}  // namespace veltwmid::test
