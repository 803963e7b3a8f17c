// The daemon under many clients at once, killed while it compiles, and the copies its clients
// receive: every outcome right, nothing left behind, the repository whole.
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

class DaemonReliabilityTest : public DaemonProcessTest {
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
  std::string daemonLog() const { return m_daemon + ".console.log"; }
  // Waits until the daemon's log says, for the `count`th time, that it compiles `mof`.
  bool compiling(const std::string& mof, std::size_t count) {
    return within(seconds(20),
                  [&] { return logged(daemonLog(), "compiling " + mof).size() >= count; });
  }
  // Starts a daemon through a client that connects (and starts no provider's server); answers
  // how long the daemon took from starting to compile `mof` to serving the client.
  std::chrono::microseconds compiledAndServed(const std::string& mof) {
    const std::size_t before = logged(daemonLog(), "compiling " + mof).size();
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

// Clients come and go as they please, each mixing every kind of request with the others: once
// they are gone the provider and then the daemon end by their idle times, and neither process
// holds an object that a client or request left behind.
TEST_F(DaemonReliabilityTest, SixteenClientsAtOnceGetEveryOutcomeRightAndLeaveNothingBehind) {
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

// The daemon compiles the files of its configuration as it starts: killed at any moment of
// the compile, it leaves each file's classes wholly or not at all, and the next client's daemon
// compiles the file again and serves.
TEST_F(DaemonReliabilityTest, ADaemonKilledWhileCompilingLeavesTheFileWhollyOrNotAtAll) {
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
    // A client that only connects: no provider's server is started in the round.
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
  EXPECT_EQ(ask({"get", "g1"}), std::make_pair(std::string("1"), std::optional<int>(0)));
  RecordProperty("killed before the end", killedBeforeTheEnd);
}

// Each client holds a copy of its own of what it received: another client's change to its copy
// reaches neither this one nor the provider, and later events and enumerations of the same
// instance leave the copies already handed out as they were.
TEST_F(DaemonReliabilityTest, EveryClientHoldsACopyOfItsOwnOfWhatItReceived) {
  auto first = client({"keep", "g1"}), second = client({"keep", "g1"});
  first->writeLine("set 42");
  EXPECT_EQ(first->nextLine(), "copy 42 events [ ]");
  second->writeLine("show");
  EXPECT_EQ(second->nextLine(), "copy 1 events [ ]");
  EXPECT_EQ(ask({"get", "g1"}).first, "1") << "the provider's gadget is as it was";

  EXPECT_EQ(ask({"put", "g1", "5"}).second, 0);
  first->writeLine("wait 1");
  EXPECT_EQ(first->nextLine(), "copy 42 events [ 5 ]");
  first->writeLine("enum");
  EXPECT_EQ(first->nextLine(), "listed 5");
  EXPECT_EQ(first->nextLine(), "copy 42 events [ 5 ]");
  EXPECT_EQ(ask({"put", "g1", "6"}).second, 0);
  second->writeLine("wait 2");
  EXPECT_EQ(second->nextLine(), "copy 1 events [ 5 6 ]");
  first->writeLine("wait 2");
  EXPECT_EQ(first->nextLine(), "copy 42 events [ 5 6 ]");

  for (auto* one : {first.get(), second.get()}) {
    one->closeInput();
    EXPECT_EQ(one->exitCode(), 0);
  }
}

}  // namespace
}  // namespace veltwmid::test
