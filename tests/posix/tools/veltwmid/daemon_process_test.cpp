// The WMI service as one daemon for every client: clients in processes of their own start it
// through COM, share its state and events, let it end when idle, and leave nothing behind in
// it, and a daemon killed while it compiles leaves the repository whole. (A daemon killed under a
// watch: veltwmi's client test.)
#include <chrono>
#include <random>

#include <owners/com_ptr.h>
#include <owners/utf_text.h>

#include "daemon_fixture.h"
#include "wmi/service.h"
#include "wmi_model/recording_sink.h"

namespace veltwmid::test {
namespace {

using velt::ComPtr;

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

// A file of `classes` classes in namespace root\<nameSpace>, in chains of ten.
std::string largeMof(const std::string& nameSpace, int classes) {
  std::string text = "#pragma namespace(\"\\\\\\\\.\\\\root\\\\" + nameSpace + "\")\n";
  for (int i = 0; i < classes; ++i) {
    std::string base = i % 10 ? " : K" + std::to_string(i - 1) : "";
    text += "class K" + std::to_string(i) + base + " { " +
            (base.empty() ? "[key] string Name; " : "") + "string P" + std::to_string(i) +
            " = \"v\"; };\n";
  }
  return text;
}

class DaemonCompileTest : public DaemonProcessTest {
 protected:
  // The classes of root\<nameSpace> that the repository holds, as any new client sees them.
  std::size_t classCount(const std::string& nameSpace) {
    velt::wmi::ServiceOptions options;
    options.repositoryPath = m_folder / "data/norvexvelt/repository.db";
    velt::wmi::Service service(options);
    ComPtr<IWbemServices> ns;
    if (FAILED(service.openNamespace(u"root\\" + velt::utf16FromUtf8(nameSpace), ns.put()))) {
      return 0;
    }
    ComPtr<velt::wmi::RecordingSink> sink(velt::wmi::RecordingSink::create());
    ns->CreateClassEnumAsync(nullptr, 0, nullptr, sink.get());
    sink->waitForFinalStatus(seconds(30));
    return sink->objects().size();
  }
  // Waits until the daemon's log says, for the `count`th time, that it compiles `mof`.
  bool compiling(const std::string& mof, std::size_t count) {
    return within(seconds(20), [&] {
      return logged(m_daemon + ".console.log", "compiling " + mof).size() >= count;
    });
  }
  // Starts a daemon through a client that connects (and starts no provider's server); answers
  // how long the daemon took from starting to compile `mof` to serving the client.
  std::chrono::microseconds compiledAndServed(const std::string& mof) {
    const std::size_t before = logged(m_daemon + ".console.log", "compiling " + mof).size();
    auto starter = client({"hold"});
    EXPECT_TRUE(compiling(mof, before + 1));
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(starter->nextLine(), "ready");
    const auto served = std::chrono::steady_clock::now() - started;
    starter->killHard();
    return std::chrono::duration_cast<std::chrono::microseconds>(served);
  }
  // Ends the daemon (whatever it was doing) and waits for it and its provider's server to go.
  void killTheDaemon() {
    for (pid_t pid : processesOf(m_daemon)) kill(pid, SIGKILL);
    ASSERT_TRUE(within(seconds(20), [&] { return processesOf(m_daemon).empty(); }));
    ASSERT_TRUE(within(seconds(20), [&] { return processesOf(m_gadgetServer).empty(); }));
  }
};

TEST_F(DaemonCompileTest, ADaemonKilledWhileCompilingLeavesTheFileWhollyOrNotAtAll) {
  constexpr int kRounds = 8, kClasses = 2000;
  const std::string first = m_folder / "first.mof";
  std::ofstream(first) << largeMof("first", kClasses);
  configure(30, 30, first);
  // How long the last daemon took to compile a file this size and serve its first client sets
  // the range of the next kill (it grows with the repository).
  std::chrono::microseconds whole = compiledAndServed(first);
  const std::size_t all = classCount("first");
  ASSERT_EQ(all, std::size_t(kClasses));
  killTheDaemon();

  std::mt19937 random(std::random_device{}());
  int killedBeforeTheEnd = 0;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE(round);
    const std::string name = "round" + std::to_string(round);
    const std::string mof = m_folder / (name + ".mof");
    std::ofstream(mof) << largeMof(name, kClasses);
    configure(30, 30, mof);
    auto starter = client({"hold"});
    const pid_t daemon = theDaemon();
    ASSERT_GT(daemon, 0);
    ASSERT_TRUE(compiling(mof, 1));
    // Beyond the whole compile too, so that some rounds end before their kill.
    std::this_thread::sleep_for(std::chrono::microseconds(
        std::uniform_int_distribution<long long>(0, whole.count() * 5 / 4)(random)));
    kill(daemon, SIGKILL);
    // It was served, or failed at once, or (the daemon killed between its connection and its
    // answer) started another that served it.
    const std::string answer = starter->nextLine();
    EXPECT_TRUE(answer == "ready" || answer.rfind("status 0x", 0) == 0) << answer;
    starter->killHard();
    killTheDaemon();  // and the one it started instead
    const std::size_t count = classCount(name);
    EXPECT_TRUE(count == 0 || count == all) << count;
    if (count == 0) ++killedBeforeTheEnd;

    whole = compiledAndServed(mof);
    EXPECT_EQ(classCount(name), all);
    killTheDaemon();
  }
  EXPECT_EQ(client({"get", "g1"})->nextLine(), "1") << "the repository takes requests after all";
  RecordProperty("killed before the end", killedBeforeTheEnd);
}

}  // namespace
}  // namespace veltwmid::test
