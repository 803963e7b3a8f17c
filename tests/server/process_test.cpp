// The built server executable, run as its own process.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <owners/unique_handle.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <windows.h>
#include <winplatform/registry_hooks.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "child_process.h"
#include "temp_registry.h"

namespace fs = std::filesystem;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

constexpr char kClassKey[] = "CLSID\\{6D0F4A2E-93B7-4C51-A8E2-5F19C3D7B06A}";

std::string readFile(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

int exitStatusOf(pid_t pid) {
  int status = 0;
  EXPECT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status)) << "status " << status;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool classKeyExists() {
  velt::UniqueRegistryKey opened;
  return RegOpenKeyExA(HKEY_CLASSES_ROOT, kClassKey, 0, KEY_READ, opened.put()) == ERROR_SUCCESS;
}

// Each test's registry file lies in its own folder, beside whatever the test puts there.
using ServerProcessTest = TempRegistryTest;

TEST_F(ServerProcessTest, ServerEndedByTerminationExitsCleanly) {
  fs::path executable = m_folder / "VeltProxyProvider";
  fs::copy_file(VELT_SERVER_EXECUTABLE, executable);
  // An installed server has the platform library beside it.
  fs::copy_file(VELT_PLATFORM_LIBRARY, m_folder / fs::path(VELT_PLATFORM_LIBRARY).filename());
  std::ofstream(m_folder / "qelvor.dbg");
  velt::test::ChildProcess server(executable.string(), {"-Embedding"});
  ASSERT_TRUE(velt::test::within(std::chrono::seconds(30), [&] {
    return readFile(m_folder / "qelvor.log").find("Registering class factory.") !=
           std::string::npos;
  }));
  server.signal(SIGTERM);
  EXPECT_EQ(server.exitCode(), 0);

  std::string log = readFile(m_folder / "qelvor.log");
  EXPECT_THAT(log, StartsWith(executable.string() + "\n"));
  EXPECT_THAT(log, HasSubstr(" CFactory::StopFactories(). Stopping Class Factory.\n\n"));
  // COM's reference and the table's go last.
  EXPECT_THAT(log, EndsWith(" CFactory::Release\n\n"));
  EXPECT_FALSE(classKeyExists());
}

// Runs "-RegServer" against the given registry file, as "nobody" when asked and this process
// is root (so that file permissions hold); the exit code, and the debug output in `output`.
int registerWith(const fs::path& registry, bool unprivileged, const fs::path& output) {
  pid_t child = fork();
  if (child == 0) {
    setenv("VELT_REGISTRY", registry.c_str(), 1);
    setenv("VELT_DEBUG_OUTPUT", "1", 1);
    if (freopen(output.c_str(), "w", stderr) == nullptr) _exit(100);
    if (unprivileged && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(101);
    execl(VELT_SERVER_EXECUTABLE, VELT_SERVER_EXECUTABLE, "-RegServer", nullptr);
    _exit(102);
  }
  return exitStatusOf(child);
}

TEST_F(ServerProcessTest, ARegistrationThatCouldNotWriteFailsAndNamesTheCall) {
  fs::create_directory(m_folder / "folder");
  std::ofstream(m_folder / "garbage.db") << std::string(4096, 'g');
  // A registry the server may read but not write: written once, then made read-only.
  EXPECT_EQ(velt::test::ChildProcess(VELT_SERVER_EXECUTABLE, {"-RegServer"}).exitCode(), 0);
  fs::permissions(m_folder / "registry.db",
                  fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  fs::permissions(m_folder, fs::perms::all);
  const struct Case {
    const char* registry;
    const char* reason;
    bool unprivileged = false;
  } cases[] = {{"no-such-dir/registry.db", "error 1011"},
               {"folder", "error 1011"},
               {"garbage.db", "error 1009"},
               {"registry.db", "error 1013", true}};
  for (const Case& c : cases) {
    fs::path output = m_folder / "output.txt";
    EXPECT_EQ(registerWith(m_folder / c.registry, c.unprivileged, output), 2) << c.registry;
    std::string said = readFile(output);
    EXPECT_THAT(said, HasSubstr(std::string("RegCreateKeyExA(HKEY_CLASSES_ROOT\\") + kClassKey +
                                ") failed: " + c.reason))
        << c.registry;
    EXPECT_THAT(said, HasSubstr("FAILED: registered")) << c.registry;
  }
}

TEST_F(ServerProcessTest, AServerThatCannotPublishItsClassSaysWhyAndFails) {
  fs::path executable = m_folder / "VeltProxyProvider";
  fs::copy_file(VELT_SERVER_EXECUTABLE, executable);
  fs::copy_file(VELT_PLATFORM_LIBRARY, m_folder / fs::path(VELT_PLATFORM_LIBRARY).filename());
  std::ofstream(m_folder / "qelvor.dbg");
  // A folder stands where the class's endpoint belongs, so no socket can be put there.
  const fs::path endpoints = m_folder / "run" / "norvexvelt";
  const fs::path endpoint = endpoints / "{6D0F4A2E-93B7-4C51-A8E2-5F19C3D7B06A}.sock";
  fs::create_directories(endpoint);
  fs::permissions(endpoints, fs::perms::owner_all);
  const fs::path console = m_folder / "console.txt";
  pid_t server = fork();
  if (server == 0) {
    setenv("XDG_RUNTIME_DIR", (m_folder / "run").c_str(), 1);
    if (freopen(console.c_str(), "w", stderr) == nullptr) _exit(100);
    execl(executable.c_str(), executable.c_str(), "-Embedding", nullptr);
    _exit(101);
  }
  EXPECT_EQ(exitStatusOf(server), 3);
  EXPECT_THAT(readFile(console), HasSubstr("COM: cannot publish the class object at " +
                                           endpoint.string() + ": rename: Is a directory\n"));
  EXPECT_THAT(readFile(console), HasSubstr("NorvexVelt Proxy Provider: COM did not accept the "
                                           "class factory (0x80070005); the server stops.\n"));
  EXPECT_THAT(readFile(m_folder / "qelvor.log"),
              HasSubstr(" Could not register the class factory: COM did not accept the class "
                        "factory (0x80070005).\n"));
}

}  // namespace
