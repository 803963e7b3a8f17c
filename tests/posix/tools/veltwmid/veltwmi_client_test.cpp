// veltwmi as a client of the daemon: it registers the daemon beside it when none is, two
// veltwmi processes meet in it, a watch ends when the daemon dies, a daemon that holds
// another repository is not used, and the sample is compiled only for the namespace it makes.
#include "daemon_fixture.h"
#include "registration.h"

namespace veltwmid::test {
namespace {

class VeltwmiClientTest : public DaemonProcessTest {
 protected:
  void SetUp() override {
    DaemonProcessTest::SetUp();
    fs::copy_file(VELTWMI, m_veltwmi);
    // veltwmi compiles its sample when the repository lacks the sample's namespace: a stand-in
    // that declares only that namespace.
    std::ofstream(m_folder / "norvex_sample.mof")
        << "#pragma namespace(\"\\\\\\\\.\\\\root\\\\norvex\\\\sample\")\n"
        << "class Placeholder { [key] string Name; };\n";
  }

  // veltwmi in a process of its own, its messages merged into its output; `setting` is shell
  // text run before it (to change its environment).
  std::unique_ptr<ChildProcess> veltwmi(std::vector<std::string> arguments,
                                        const std::string& setting = "") {
    std::vector<std::string> all{"-c", setting + " exec \"$0\" \"$@\" 2>&1", m_veltwmi, "-n",
                                 "root\\test"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return std::make_unique<ChildProcess>("/bin/sh", std::move(all));
  }
  // Everything a veltwmi printed until it ended, and its exit code.
  static std::pair<std::string, std::optional<int>> outcome(ChildProcess& child) {
    std::string text;
    for (;;) {
      std::string line = child.nextLine();
      if (line.empty() && child.exitCode(seconds(0))) break;
      text += line + "\n";
    }
    return {text, child.exitCode()};
  }
  std::pair<std::string, std::optional<int>> run(std::vector<std::string> arguments,
                                                 const std::string& setting = "") {
    return outcome(*veltwmi(std::move(arguments), setting));
  }
  // Puts until the watch shows the change (it subscribes while its process starts), then
  // answers the event it printed.
  std::string putUntilSeen(ChildProcess& watch, const std::string& name) {
    for (int attempt = 0; attempt < 60; ++attempt) {
      auto put = run({"put", "Gadget", "Name=" + name, "Size=3"});
      EXPECT_EQ(put.second, 0) << put.first;
      if (put.second != 0) return {};
      std::string line = watch.nextLine(seconds(1));
      if (!line.empty()) return line;
    }
    return {};
  }

  std::string m_veltwmi = m_folder / "veltwmi";
};

TEST_F(VeltwmiClientTest, AWatchSeesThePutOfAnotherVeltwmiThroughTheDaemonItRegistered) {
  std::string error;
  ASSERT_TRUE(unregisterDaemon(error)) << error;
  auto watch = veltwmi({"watch", "SELECT * FROM GadgetChanged WHERE Size = 3", "-f", "json"});
  EXPECT_EQ(putUntilSeen(*watch, "seen"),
            R"({"__CLASS": "GadgetChanged", "Name": "seen", "Size": 3})");
  VeltRegistryReset();  // read what the clients wrote
  EXPECT_EQ(registeredCommand(), m_daemon) << "veltwmi registers the daemon beside it";
  EXPECT_EQ(processesOf(m_daemon).size(), 1u) << "both veltwmi share one daemon";
  watch->signal(SIGTERM);
  EXPECT_EQ(watch->exitCode(), 0);

  // Provider state lives in the daemon between the commands of processes that came and went.
  auto got = run({"get", "Gadget.Name=\"seen\"", "-f", "list"});
  EXPECT_EQ(got.second, 0) << got.first;
  EXPECT_NE(got.first.find("Size   : 3\n"), std::string::npos) << got.first;
}

TEST_F(VeltwmiClientTest, AWatchWhoseDaemonIsKilledEndsAtOnceAndSaysSo) {
  auto watch = veltwmi({"watch", "GadgetChanged"});
  ASSERT_FALSE(putUntilSeen(*watch, "before").empty());
  const pid_t daemon = theDaemon();
  ASSERT_GT(daemon, 0);
  ASSERT_EQ(kill(daemon, SIGKILL), 0);
  auto [text, code] = outcome(*watch);
  EXPECT_EQ(code, 1);
  EXPECT_NE(text.find("RPC_E_DISCONNECTED"), std::string::npos) << text;
  EXPECT_NE(text.find("the WMI service veltwmid went away"), std::string::npos) << text;
  // The next command starts another daemon.
  EXPECT_EQ(run({"get", "Gadget.Name=\"g1\""}).second, 0);
}

TEST_F(VeltwmiClientTest, ADaemonHoldingAnotherRepositoryIsNotUsed) {
  ASSERT_EQ(run({"get", "Gadget.Name=\"g1\""}).second, 0);  // starts the daemon on this one
  auto [text, code] =
      run({"get", "Gadget.Name=\"g1\""}, "export XDG_DATA_HOME=" + m_folder / "elsewhere" + ";");
  EXPECT_EQ(code, 3);
  EXPECT_NE(text.find("holds another repository than " + m_folder / "elsewhere"), std::string::npos)
      << text;
}

// The daemon starts on a repository without the sample; the client adds it when the daemon
// answers that the namespace is missing, and asks again. A sample that cannot compile concerns
// only its own namespace: a client whose namespace is there does not look for the sample.
TEST_F(VeltwmiClientTest, TheSampleReachesTheServiceForTheFirstCommandThatAsksForItsNamespace) {
  const std::string placeholder = m_folder / "norvex_sample.mof";
  std::string good;
  std::getline(std::ifstream(placeholder), good, '\0');
  std::ofstream(placeholder, std::ios::trunc) << "class {\n";
  auto got = run({"get", "Gadget.Name=\"g1\""});
  EXPECT_EQ(got.second, 0) << got.first;
  auto broken = run({"enum", "Placeholder", "-n", "root\\norvex\\sample"});
  EXPECT_EQ(broken.second, 3) << broken.first;
  EXPECT_NE(broken.first.find("norvex_sample.mof"), std::string::npos) << broken.first;

  std::ofstream(placeholder, std::ios::trunc) << good;
  auto [text, code] = run({"enum", "Placeholder", "-n", "root\\norvex\\sample"});
  EXPECT_EQ(text.find("WBEM_E_INVALID_NAMESPACE"), std::string::npos) << text;
  EXPECT_EQ(text.find("WBEM_E_INVALID_CLASS"), std::string::npos) << text;
  EXPECT_EQ(code, 0) << text;
}

TEST_F(VeltwmiClientTest, WithNoDaemonRegisteredNorBesideItSaysWhatToInstall) {
  std::string error;
  ASSERT_TRUE(unregisterDaemon(error)) << error;
  fs::remove(m_daemon);
  auto [text, code] = run({"get", "Gadget.Name=\"g1\""});
  EXPECT_EQ(code, 3);
  EXPECT_NE(text.find(m_daemon + " is missing"), std::string::npos) << text;
  VeltRegistryReset();
  EXPECT_EQ(registeredCommand(), "") << "nothing that cannot run is registered";
}

}  // namespace
}  // namespace veltwmid::test
