// The WMI service as one daemon for every client: clients in processes of their own start it
// through COM, share its state and events, see it die, and let it end when idle.
#include <gtest/gtest.h>
#include <winplatform/registry_hooks.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <set>

#include "child_process.h"
#include "gadget_provider.h"
#include "temp_dir.h"

namespace veltwmid::test {
namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;

class DaemonProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("XDG_RUNTIME_DIR", folder_.path().c_str(), 1);
    setenv("XDG_CONFIG_HOME", (folder_ / "config").c_str(), 1);
    setenv("XDG_DATA_HOME", (folder_ / "data").c_str(), 1);
    setenv("VELT_REGISTRY", (folder_ / "registry.db").c_str(), 1);
    VeltRegistryReset();
    // Copies of their own, so the processes found running are this test's.
    fs::copy_file(VELTWMID, daemon_);
    fs::copy_file(GADGET_SERVER, gadgetServer_);
    fs::copy_file(fs::path(VELTWMID).parent_path() / "libvelt_platform.so",
                  folder_ / "libvelt_platform.so");
    std::ofstream(folder_ / "gadgets.mof") << veltwmi::test::kGadgetMof;
    configure(30, 30);

    ChildProcess registration(daemon_, {"-RegServer"});
    ASSERT_EQ(registration.exitCode(), 0);
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT,
                              "CLSID\\{3C2B7A10-5E4F-4D21-8B6A-910E2D447FC3}\\LocalServer32", 0,
                              nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(gadgetServer_.c_str()),
                   static_cast<DWORD>(gadgetServer_.size() + 1));
    RegCloseKey(key);
  }
  void TearDown() override {
    for (pid_t pid : processesOf(daemon_)) kill(pid, SIGKILL);
    // Its daemon gone, the provider's server loses its only client and ends by itself.
    EXPECT_TRUE(within(seconds(20), [&] { return processesOf(gadgetServer_).empty(); }));
    for (pid_t pid : processesOf(gadgetServer_)) kill(pid, SIGKILL);
    VeltRegistryReset();
    unsetenv("VELT_REGISTRY");
    unsetenv("XDG_CONFIG_HOME");
    unsetenv("XDG_DATA_HOME");
    unsetenv("XDG_RUNTIME_DIR");
  }

  void configure(int providerIdle, int daemonIdle) {
    fs::create_directories(folder_.path() / "config" / "norvexvelt");
    std::ofstream(folder_.path() / "config" / "norvexvelt" / "veltwmid.conf")
        << "# written by the test\n"
        << "provider-idle-seconds = " << providerIdle << "\n"
        << "daemon-idle-seconds = " << daemonIdle << "\n"
        << "mof = " << (folder_ / "gadgets.mof") << "\n";
  }
  std::unique_ptr<ChildProcess> client(std::vector<std::string> arguments) {
    return std::make_unique<ChildProcess>(DAEMON_CLIENT, std::move(arguments));
  }
  // What a client that runs to its end printed first, and its exit code.
  std::pair<std::string, std::optional<int>> ask(std::vector<std::string> arguments) {
    auto one = client(std::move(arguments));
    std::string line = one->nextLine();
    return {line, one->exitCode()};
  }
  pid_t theDaemon() {
    std::vector<pid_t> daemons;
    within(seconds(20), [&] { return (daemons = processesOf(daemon_)).size() == 1; });
    return daemons.size() == 1 ? daemons[0] : -1;
  }

  TempDir folder_;
  std::string daemon_ = folder_ / "veltwmid";
  std::string gadgetServer_ = folder_ / "gadget-server";
};

TEST_F(DaemonProcessTest, ClientsStartingAtOnceShareOneDaemonAndItsProviderState) {
  std::vector<std::unique_ptr<ChildProcess>> readers;
  for (int i = 0; i < 4; ++i) readers.push_back(client({"get", "g1"}));
  std::set<pid_t> daemons;
  for (auto& reader : readers) {
    EXPECT_EQ(reader->nextLine(), "1");
    EXPECT_EQ(reader->exitCode(), 0);
    for (pid_t pid : processesOf(daemon_)) daemons.insert(pid);
  }
  EXPECT_EQ(daemons.size(), 1u) << "clients starting at once start one daemon";

  // What one client wrote, another reads: the provider stays loaded in the daemon between them.
  EXPECT_EQ(ask({"put", "shared", "7"}), std::make_pair(std::string(), std::optional<int>(0)));
  EXPECT_EQ(ask({"get", "shared"}), std::make_pair(std::string("7"), std::optional<int>(0)));
  EXPECT_EQ(processesOf(daemon_), std::vector<pid_t>(daemons.begin(), daemons.end()));
  EXPECT_EQ(processesOf(gadgetServer_).size(), 1u);
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
  EXPECT_EQ(processesOf(daemon_), std::vector<pid_t>{daemon});
  EXPECT_EQ(processesOf(gadgetServer_).size(), 1u) << "the subscription keeps its provider";

  watcher->closeInput();
  EXPECT_EQ(watcher->nextLine(), "cancelled 0x00000000");
  EXPECT_EQ(watcher->exitCode(), 0);
  EXPECT_TRUE(within(seconds(20), [&] { return processesOf(gadgetServer_).empty(); }))
      << "the idle provider was released and its server ended";
  EXPECT_TRUE(within(seconds(20), [&] { return processesOf(daemon_).empty(); }))
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
  ASSERT_EQ(processesOf(gadgetServer_).size(), 1u);
  watcher->killHard();
  EXPECT_TRUE(within(seconds(20), [&] { return processesOf(gadgetServer_).empty(); }))
      << "the dead client's subscription still keeps its provider";
  EXPECT_TRUE(within(seconds(20), [&] { return processesOf(daemon_).empty(); }))
      << "the daemon still counts the dead client's objects";
}

// Run by a service manager, the daemon serves the clients as one they started would, stays when
// idle, and ends on SIGTERM.
TEST_F(DaemonProcessTest, InTheForegroundItServesStaysWhenIdleAndEndsOnRequest) {
  configure(1, 1);
  ChildProcess daemon(daemon_, {"--foreground"});
  ASSERT_TRUE(within(seconds(20), [&] {
    return fs::exists(folder_.path() / "norvexvelt" /
                      "{4862BE01-262C-4E30-B690-96DCE2657A73}.sock");
  }));
  EXPECT_EQ(ask({"get", "g1"}), std::make_pair(std::string("1"), std::optional<int>(0)));
  EXPECT_EQ(processesOf(daemon_), std::vector<pid_t>{daemon.pid()}) << "no other daemon started";
  EXPECT_TRUE(within(seconds(20), [&] { return processesOf(gadgetServer_).empty(); }))
      << "its idle provider is released all the same";
  std::this_thread::sleep_for(seconds(2));  // the daemon's idle time, twice over
  EXPECT_FALSE(daemon.exitCode(seconds(0)).has_value());
  daemon.signal(SIGTERM);
  EXPECT_EQ(daemon.exitCode(), 0);
}

}  // namespace
}  // namespace veltwmid::test
