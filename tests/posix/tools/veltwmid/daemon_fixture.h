// A private daemon for one test: its own runtime, configuration, data folder and registry, a
// copy of veltwmid registered there and the gadget provider's server as the provider.
#pragma once

#include <gtest/gtest.h>
#include <winplatform/registry_hooks.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "child_process.h"
#include "gadget_provider.h"
#include "local_server_registration.h"
#include "temp_dir.h"

namespace veltwmid::test {

using velt::test::ChildProcess;
using velt::test::processesOf;
using velt::test::within;

namespace fs = std::filesystem;
using std::chrono::seconds;

class DaemonProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("XDG_RUNTIME_DIR", m_folder.path().c_str(), 1);
    setenv("XDG_CONFIG_HOME", (m_folder / "config").c_str(), 1);
    setenv("XDG_DATA_HOME", (m_folder / "data").c_str(), 1);
    setenv("VELT_REGISTRY", (m_folder / "registry.db").c_str(), 1);
    VeltRegistryReset();
    // Copies of their own, so the processes found running are this test's.
    fs::copy_file(VELTWMID, m_daemon);
    fs::copy_file(GADGET_SERVER, m_gadgetServer);
    fs::copy_file(fs::path(VELTWMID).parent_path() / "libvelt_platform.so",
                  m_folder / "libvelt_platform.so");
    std::ofstream(m_folder / "gadgets.mof") << veltwmi::test::kGadgetMof;
    configure(30, 30);

    ChildProcess registration(m_daemon, {"-RegServer"});
    ASSERT_EQ(registration.exitCode(), 0);
    ASSERT_EQ(velt::test::registerLocalServer(veltwmi::test::CLSID_GadgetProvider, m_gadgetServer),
              ERROR_SUCCESS);
  }
  void TearDown() override {
    for (pid_t pid : processesOf(m_daemon)) kill(pid, SIGKILL);
    // Its daemon gone, the provider's server loses its only client and ends by itself.
    EXPECT_TRUE(within(seconds(20), [&] { return processesOf(m_gadgetServer).empty(); }));
    for (pid_t pid : processesOf(m_gadgetServer)) kill(pid, SIGKILL);
    VeltRegistryReset();
    unsetenv("VELT_REGISTRY");
    unsetenv("XDG_CONFIG_HOME");
    unsetenv("XDG_DATA_HOME");
    unsetenv("XDG_RUNTIME_DIR");
  }

  // `moreMof` is compiled after the gadgets' at the daemon's start.
  void configure(int providerIdle, int daemonIdle, const std::string& moreMof = "") {
    fs::create_directories(m_folder.path() / "config" / "norvexvelt");
    std::ofstream(m_folder.path() / "config" / "norvexvelt" / "veltwmid.conf")
        << "# written by the test\n"
        << "provider-idle-seconds = " << providerIdle << "\n"
        << "daemon-idle-seconds = " << daemonIdle << "\n"
        << "mof = " << (m_folder / "gadgets.mof") << "\n"
        << (moreMof.empty() ? "" : "mof = " + moreMof + "\n");
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
    within(seconds(20), [&] { return (daemons = processesOf(m_daemon)).size() == 1; });
    return daemons.size() == 1 ? daemons[0] : -1;
  }

  TempDir m_folder;
  std::string m_daemon = m_folder / "veltwmid";
  std::string m_gadgetServer = m_folder / "gadget-server";
};

}  // namespace veltwmid::test
