// The WMI service as one daemon for every client: clients in processes of their own start it
// through COM, share its state and events, see it die, and let it end when idle.
#include "daemon_fixture.h"

namespace veltwmid::test {
namespace {

TEST_F(DaemonProcessTest, ClientsStartingAtOnceShareOneDaemonAndItsProviderState) {
  std::vector<std::unique_ptr<ChildProcess>> readers;
  for (int i = 0; i < 4; ++i) readers.push_back(client({"get", "g1"}));
  std::set<pid_t> daemons;
  for (auto& reader : readers) {
    EXPECT_EQ(reader->nextLine(), "1");
    EXPECT_EQ(reader->exitCode(), 0);
    for (pid_t pid : processesOf(m_daemon)) daemons.insert(pid);
  }
  EXPECT_EQ(daemons.size(), 1u) << "clients starting at once start one daemon";

  // What one client wrote, another reads: the provider stays loaded in the daemon between them.
  EXPECT_EQ(ask({"put", "shared", "7"}), std::make_pair(std::string(), std::optional<int>(0)));
  EXPECT_EQ(ask({"get", "shared"}), std::make_pair(std::string("7"), std::optional<int>(0)));
  EXPECT_EQ(processesOf(m_daemon), std::vector<pid_t>(daemons.begin(), daemons.end()));
  EXPECT_EQ(processesOf(m_gadgetServer).size(), 1u);
}

// A client's synchronous and semisynchronous calls get the daemon's enumerators and call
// results through proxies.
TEST_F(DaemonProcessTest, SynchronousAndSemisynchronousCallsAnswerAcrossTheProcesses) {
  EXPECT_EQ(
      ask({"sync"}),
      std::make_pair(std::string("listed g0 g1 g2 matched g1 g2 got 2 open 0x8004100E 0x8004100E"),
                     std::optional<int>(0)));
}

TEST_F(DaemonProcessTest, AWatchInOneClientSeesThePutOfAnother) {
  auto watcher = client({"watch"});
  ASSERT_EQ(watcher->nextLine(), "watching");
  EXPECT_EQ(ask({"put", "seen", "3"}).second, 0);
  EXPECT_EQ(watcher->nextLine(), "event seen");
  // The sink handed to cancel crosses anew, yet names the subscription it made.
  watcher->closeInput();
  EXPECT_EQ(watcher->nextLine(), "cancelled 0x00000000");
  EXPECT_EQ(watcher->exitCode(), 0);
}

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

// A daemon that dies fails the calls of its clients at once, rather than when some wait runs
// out, and the next client starts a new one.
TEST_F(DaemonProcessTest, AKilledDaemonFailsItsClientsPromptlyAndTheNextClientStartsAnother) {
  auto holder = client({"hold"});
  ASSERT_EQ(holder->nextLine(), "ready");
  auto watcher = client({"watch"});
  ASSERT_EQ(watcher->nextLine(), "watching");
  const pid_t first = theDaemon();
  ASSERT_GT(first, 0);
  ASSERT_EQ(kill(first, SIGKILL), 0);

  EXPECT_EQ(watcher->nextLine(seconds(15)), "lost 0x80010108");
  EXPECT_EQ(watcher->exitCode(), 1);
  holder->writeLine("go");
  EXPECT_EQ(holder->nextLine(seconds(15)), "status 0x80010108");
  EXPECT_EQ(holder->exitCode(), 1);

  EXPECT_EQ(ask({"get", "g1"}), std::make_pair(std::string("1"), std::optional<int>(0)));
  const pid_t second = theDaemon();
  EXPECT_GT(second, 0);
  EXPECT_NE(second, first);
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

}  // namespace
}  // namespace veltwmid::test
