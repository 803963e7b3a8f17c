// Local servers as processes of their own: started by COM from the registered command line,
// shared by clients, ended by their lifetime rule, and failing calls when they die.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <owners/com_ptr.h>
#include <owners/unique_handle.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <winplatform/posix_hooks.h>
#include <winplatform/registry_hooks.h>
#include <winplatform/remoting.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <random>
#include <string>
#include <vector>

#include "child_process.h"
#include "probe.h"
#include "temp_dir.h"

namespace {

namespace fs = std::filesystem;
using velt::ComPtr;
using Clock = std::chrono::steady_clock;

bool isDisconnection(HRESULT status) {
  return status == RPC_E_DISCONNECTED || status == static_cast<HRESULT>(0x800706BA);
}

// Whether `process` holds open the file or pipe `output` names.
bool holdsOpen(pid_t process, const fs::path& output) {
  std::error_code error;
  for (const auto& held :
       fs::directory_iterator("/proc/" + std::to_string(process) + "/fd", error)) {
    if (fs::read_symlink(held.path(), error) == output) return true;
  }
  return false;
}

class RemoteActivationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("XDG_RUNTIME_DIR", m_folder.path().c_str(), 1);
    setenv("VELT_REGISTRY", (m_folder / "registry.db").c_str(), 1);
    VeltRegistryReset();
    // A copy of its own, so the server's console log lands in this test's folder.
    fs::copy_file(PROBE_SERVER, m_server);
    fs::copy_file(fs::path(PROBE_SERVER).parent_path() / "libvelt_platform.so",
                  m_folder / "libvelt_platform.so");
    registerServer(m_server);
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    registerRemoteProbeMarshaler();
  }
  void TearDown() override {
    CoUninitialize();
    for (pid_t pid : velt::test::processesOf(m_server)) kill(pid, SIGKILL);
    VeltRegistryReset();
    unsetenv("VELT_REGISTRY");
    unsetenv("XDG_RUNTIME_DIR");
  }

  static void registerServer(const std::string& commandLine, DWORD type = REG_SZ) {
    velt::UniqueRegistryKey key;
    ASSERT_EQ(RegCreateKeyExA(
                  HKEY_CLASSES_ROOT, "CLSID\\{6B0E2D51-4C3A-4F8E-9A71-2E5D8C1B7A10}\\LocalServer32",
                  0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, key.put(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key.get(), nullptr, 0, type,
                             reinterpret_cast<const BYTE*>(commandLine.c_str()),
                             static_cast<DWORD>(commandLine.size() + 1)),
              ERROR_SUCCESS);
  }

  HRESULT activate(IRemoteProbe** probe) {
    HRESULT status = CoCreateInstance(CLSID_RemoteProbe, nullptr, CLSCTX_LOCAL_SERVER,
                                      IID_IRemoteProbe, reinterpret_cast<void**>(probe));
    return status;
  }
  static pid_t serverOf(IRemoteProbe* probe) {
    LONG pid = 0;
    EXPECT_EQ(probe->ProcessId(&pid), S_OK);
    return static_cast<pid_t>(pid);
  }
  // Whether every run of `program` (this test's server by default) ends in time.
  bool serversEnd(const std::string& program = {}) const {
    return velt::test::within(std::chrono::seconds(20), [&] {
      return velt::test::processesOf(program.empty() ? m_server : program).empty();
    });
  }
  std::string endpoint() const {
    return m_folder / "norvexvelt/{6B0E2D51-4C3A-4F8E-9A71-2E5D8C1B7A10}.sock";
  }

  TempDir m_folder;
  std::string m_server = m_folder / "probe-server";
};

TEST_F(RemoteActivationTest, StartsServerProcessCallsAndServerEndsByLifetimeRule) {
  // The client's output, a pipe of its own here, must not reach the server it starts.
  int pipeEnds[2];
  ASSERT_EQ(pipe2(pipeEnds, O_CLOEXEC), 0);
  std::fflush(stdout);
  const int savedOutput = dup(STDOUT_FILENO);
  dup2(pipeEnds[1], STDOUT_FILENO);
  const fs::path output = fs::read_symlink("/proc/self/fd/1");
  ComPtr<IRemoteProbe> probe;
  const HRESULT activated = activate(probe.put());
  dup2(savedOutput, STDOUT_FILENO);
  close(savedOutput);
  ASSERT_EQ(activated, S_OK);
  const pid_t server = serverOf(probe.get());
  EXPECT_NE(server, getpid());
  ASSERT_TRUE(holdsOpen(getpid(), output)) << "the check cannot see a holder";
  EXPECT_FALSE(holdsOpen(server, output));
  close(pipeEnds[0]);
  close(pipeEnds[1]);

  // Interfaces with a proxy cross; one without answers as COM does for it.
  ComPtr<IUnknown> unknown;
  ASSERT_EQ(probe->QueryInterface(IID_IUnknown, unknown.putVoid()), S_OK);
  ComPtr<IRemoteProbe> again;
  ASSERT_EQ(unknown->QueryInterface(IID_IRemoteProbe, again.putVoid()), S_OK);
  EXPECT_EQ(serverOf(again.get()), server);
  void* none = nullptr;
  EXPECT_EQ(probe->QueryInterface(IID_IUnmarshaled, &none), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);
  unknown.reset();
  again.reset();

  // A second activation reaches the running server.
  ComPtr<IRemoteProbe> second;
  ASSERT_EQ(activate(second.put()), S_OK);
  EXPECT_EQ(serverOf(second.get()), server);
  second.reset();
  EXPECT_EQ(velt::test::processesOf(m_server), std::vector<pid_t>{server});
  probe.reset();
  EXPECT_TRUE(serversEnd());
  EXPECT_FALSE(fs::exists(endpoint())) << "revoking the class withdraws its endpoint";
  // The server's output went to its log, and nothing else did (no crash report); it worked in
  // its own folder, not in the client's.
  std::ifstream log(m_server + ".console.log");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(log), {}),
            "probe server ready in " + m_folder.path().string() +
                "\nprobe server arguments: [-Embedding]\n"
                "probe server: proxies and stubs left: 0 and 0\n");
  ASSERT_NE(fs::current_path(), m_folder.path());

  // The next activation starts a new server.
  ASSERT_EQ(activate(probe.put()), S_OK);
  EXPECT_NE(serverOf(probe.get()), server);
  const pid_t successor = serverOf(probe.get());
  probe.reset();
  EXPECT_TRUE(serversEnd());

  // The client knows which servers it reached, so it can find what a dead one left behind.
  std::vector<DWORD> reached(VeltReachedLocalServers(nullptr, 0));
  reached.resize(VeltReachedLocalServers(reached.data(), static_cast<DWORD>(reached.size())));
  ASSERT_GE(reached.size(), 2u);
  EXPECT_EQ(reached[reached.size() - 2], static_cast<DWORD>(server));
  EXPECT_EQ(reached.back(), static_cast<DWORD>(successor));
}

// One object that crossed twice arrives as two proxies; they still name one object, as its
// IUnknown pointer does in its own process, and other objects stay apart. A lock on the class
// object keeps the server with no object of it left.
TEST_F(RemoteActivationTest, ProxiesOfOneObjectAreTheSameObjectAndALockKeepsTheServer) {
  using velt::remoting::sameObject;
  // The server's class object, asked for twice, crosses twice.
  ComPtr<IClassFactory> factory, again;
  for (IClassFactory** out : {factory.put(), again.put()}) {
    ASSERT_EQ(CoGetClassObject(CLSID_RemoteProbe, CLSCTX_LOCAL_SERVER, nullptr, IID_IClassFactory,
                               reinterpret_cast<void**>(out)),
              S_OK);
  }
  ASSERT_NE(factory.get(), again.get());
  ASSERT_EQ(factory->LockServer(TRUE), S_OK);
  ComPtr<IRemoteProbe> probe;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IRemoteProbe, probe.putVoid()), S_OK);
  const pid_t server = serverOf(probe.get());
  void* none = nullptr;
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnmarshaled, &none), E_NOINTERFACE);

  EXPECT_TRUE(sameObject(factory.get(), again.get()));
  EXPECT_TRUE(sameObject(again.get(), factory.get())) << "asked again, from the cache";
  EXPECT_TRUE(sameObject(probe.get(), probe.get()));
  EXPECT_FALSE(sameObject(factory.get(), probe.get()));
  EXPECT_FALSE(sameObject(probe.get(), nullptr));
  probe.reset();
  again.reset();

  ComPtr<IRemoteProbe> later;
  ASSERT_EQ(activate(later.put()), S_OK) << "the lock keeps the server with no object";
  EXPECT_EQ(serverOf(later.get()), server);
  later.reset();
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  EXPECT_TRUE(serversEnd());
}

TEST_F(RemoteActivationTest, CallsFromSeveralThreadsRunAtOnceInServer) {
  ComPtr<IRemoteProbe> probe;
  ASSERT_EQ(activate(probe.put()), S_OK);
  // Each call returns only once all three are inside the server together.
  std::vector<std::future<HRESULT>> calls;
  for (int i = 0; i < 3; ++i) {
    calls.push_back(std::async(std::launch::async, [&probe] { return probe->Meet(3); }));
  }
  for (auto& call : calls) EXPECT_EQ(call.get(), S_OK);
}

// Every proxy counts until its last Release, one whose server died too: a proxy left
// referenced shows in the count, although no object of this process stays behind.
TEST_F(RemoteActivationTest, EveryProxyCountsUntilItsLastRelease) {
  auto live = [] {
    LONG proxies = -1, stubs = -1;
    VeltLiveRemoteObjects(&proxies, &stubs);
    return std::make_pair(proxies, stubs);
  };
  const auto start = live();
  ComPtr<IRemoteProbe> probe;
  ASSERT_EQ(activate(probe.put()), S_OK);
  EXPECT_EQ(live(), std::make_pair(start.first + 1, start.second))
      << "the class object's proxy went with the activation";
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(CoGetClassObject(CLSID_RemoteProbe, CLSCTX_LOCAL_SERVER, nullptr, IID_IClassFactory,
                             factory.putVoid()),
            S_OK);
  ComPtr<IRemoteProbe> second;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IRemoteProbe, second.putVoid()), S_OK);
  EXPECT_EQ(live(), std::make_pair(start.first + 3, start.second));
  second->AddRef();
  second->Release();
  factory.reset();
  second.reset();
  EXPECT_EQ(live(), std::make_pair(start.first + 1, start.second));

  const pid_t server = serverOf(probe.get());
  kill(server, SIGKILL);
  ASSERT_TRUE(serversEnd());
  LONG pid = 0;
  EXPECT_PRED1(isDisconnection, probe->ProcessId(&pid));
  EXPECT_EQ(live(), std::make_pair(start.first + 1, start.second)) << "dead, but still held";
  probe.reset();
  EXPECT_EQ(live(), start);
}

TEST_F(RemoteActivationTest, GarbageOnEndpointDropsThatConnectionOnly) {
  ComPtr<IRemoteProbe> probe;
  ASSERT_EQ(activate(probe.put()), S_OK);
  const pid_t server = serverOf(probe.get());

  int raw = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::string path = endpoint();
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  ASSERT_EQ(connect(raw, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  std::mt19937 noise(16);
  std::vector<unsigned char> bytes(4096);
  for (auto& byte : bytes) byte = static_cast<unsigned char>(noise());
  ASSERT_EQ(write(raw, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  // The server hangs up on it: the read ends (end of stream or reset) instead of waiting.
  pollfd closed{raw, POLLIN, 0};
  ASSERT_EQ(poll(&closed, 1, 20000), 1);
  char answer[64];
  while (read(raw, answer, sizeof answer) > 0) {
  }
  close(raw);

  EXPECT_EQ(serverOf(probe.get()), server);
  ComPtr<IRemoteProbe> other;
  ASSERT_EQ(activate(other.put()), S_OK);
  EXPECT_EQ(serverOf(other.get()), server);
  other.reset();
  probe.reset();
  EXPECT_TRUE(serversEnd());
}

// Past the private folder (opened here on purpose), the server still turns away a peer that
// runs as another user.
TEST_F(RemoteActivationTest, ServerHangsUpOnPeerOfAnotherUser) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to connect as another user";
  ComPtr<IRemoteProbe> probe;
  ASSERT_EQ(activate(probe.put()), S_OK);
  const pid_t server = serverOf(probe.get());
  const std::string path = endpoint();
  ASSERT_EQ(chmod(m_folder.path().c_str(), 0711), 0);
  ASSERT_EQ(chmod((m_folder / "norvexvelt").c_str(), 0711), 0);
  ASSERT_EQ(chmod(path.c_str(), 0666), 0);

  pid_t stranger = fork();
  if (stranger == 0) {
    // 0: hung up on; 1: could not connect; 2: the server kept the connection.
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(1);
    int raw = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    if (connect(raw, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) _exit(1);
    pollfd closed{raw, POLLIN, 0};
    char byte;
    _exit(poll(&closed, 1, 20000) == 1 && read(raw, &byte, 1) <= 0 ? 0 : 2);
  }
  int status = -1;
  ASSERT_EQ(waitpid(stranger, &status, 0), stranger);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);

  EXPECT_EQ(serverOf(probe.get()), server) << "the server keeps serving its own user";
  probe.reset();
  EXPECT_TRUE(serversEnd());
}

TEST_F(RemoteActivationTest, ServerThatCannotStartOrEndsUnregisteredFailsActivation) {
  ComPtr<IRemoteProbe> probe;
  registerServer(m_folder / "missing-server");
  EXPECT_EQ(activate(probe.put()), CO_E_SERVER_EXEC_FAILURE);
  // A copy, so that its console log lands in this test's folder rather than beside /bin/false.
  fs::copy_file("/bin/false", m_folder / "false-server");
  registerServer(m_folder / "false-server");
  // Waiting out the start timeout would take far longer than the bound below: the client
  // notices the server's end instead.
  VeltSetLocalServerStartTimeout(600000);
  const auto start = Clock::now();
  EXPECT_EQ(activate(probe.put()), CO_E_SERVER_EXEC_FAILURE);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(60));
  VeltSetLocalServerStartTimeout(30000);
  EXPECT_FALSE(probe);
}

// The registered command line is read as the Windows process start reads it.
TEST_F(RemoteActivationTest, RegisteredCommandLinesWithBlanksOrVariablesStartTheirServer) {
  const fs::path folder = m_folder.path() / "Program Files" / "Probe Server";
  fs::create_directories(folder);
  const std::string program = (folder / "probe server").string();
  fs::copy_file(m_server, program);
  fs::copy_file(m_folder / "libvelt_platform.so", folder / "libvelt_platform.so");
  setenv("VELT_PROBE_FOLDER", folder.c_str(), 1);
  const struct Case {
    std::string commandLine;
    std::string arguments;
    DWORD type = REG_SZ;
  } cases[] = {
      {program, "[-Embedding]"},  // unquoted: the shortest prefix that names a program
      {'"' + program + R"(" -Extra "two words" a\\\"b)",
       R"([-Extra] [two words] [a\"b] [-Embedding])"},
      {R"("%VELT_PROBE_FOLDER%/probe server" %VELT_UNSET%)", "[%VELT_UNSET%] [-Embedding]",
       REG_EXPAND_SZ},
  };
  for (const Case& c : cases) {
    registerServer(c.commandLine, c.type);
    fs::remove(program + ".console.log");
    ComPtr<IRemoteProbe> probe;
    ASSERT_EQ(activate(probe.put()), S_OK) << c.commandLine;
    probe.reset();
    ASSERT_TRUE(serversEnd(program)) << c.commandLine;
    std::ifstream log(program + ".console.log");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(log), {}),
              "probe server ready in " + folder.string() + "\nprobe server arguments: " +
                  c.arguments + "\nprobe server: proxies and stubs left: 0 and 0\n")
        << c.commandLine;
  }
  unsetenv("VELT_PROBE_FOLDER");
}

TEST_F(RemoteActivationTest, ActivationReachingAServerThatEndsStartsAnotherOnce) {
  const std::string marker = m_folder / "ended";
  setenv("PROBE_ENDING", ("once:" + marker).c_str(), 1);
  ComPtr<IRemoteProbe> probe;
  EXPECT_EQ(activate(probe.put()), S_OK);
  EXPECT_TRUE(fs::exists(marker)) << "the first server ended during the activation";
  probe.reset();
  EXPECT_TRUE(serversEnd());

  // Once only: when the new server ends as well, the activation fails.
  setenv("PROBE_ENDING", "always", 1);
  fs::remove(m_server + ".console.log");
  EXPECT_PRED1(isDisconnection, activate(probe.put()));
  unsetenv("PROBE_ENDING");
  std::ifstream log(m_server + ".console.log");
  int started = 0;  // servers, each ending as it hands out its class object
  for (std::string line; std::getline(log, line);) started += line == "probe server ending";
  EXPECT_EQ(started, 2);
}

TEST_F(RemoteActivationTest, ActivationRefusedByAServerOnItsWayOutStartsAnother) {
  const std::string marker = m_folder / "refused";
  setenv("PROBE_STOPPING", ("once:" + marker).c_str(), 1);
  ComPtr<IRemoteProbe> probe;
  EXPECT_EQ(activate(probe.put()), S_OK);
  unsetenv("PROBE_STOPPING");
  EXPECT_TRUE(fs::exists(marker)) << "the first server refused the object";
  ASSERT_TRUE(probe);
  EXPECT_EQ(probe->Meet(1), S_OK);
  probe.reset();
  EXPECT_TRUE(serversEnd());
  std::ifstream log(m_server + ".console.log");
  int started = 0, refused = 0;
  for (std::string line; std::getline(log, line);) {
    started += line.starts_with("probe server ready");
    refused += line == "probe server stopping";
  }
  EXPECT_EQ(started, 2);
  EXPECT_EQ(refused, 1);
}

}  // namespace
