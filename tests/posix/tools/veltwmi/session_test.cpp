// The client end to end against a provider server of the tests' own: each command, streaming,
// exit codes and error texts, and batches sharing one server.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <thread>
#include <type_traits>

#include "app.h"
#include "commands.h"
#include "gadget_provider.h"
#include "interrupt.h"
#include "status_text.h"
#include "temp_dir.h"
#include "winplatform/posix_hooks.h"

namespace veltwmi::test {
namespace {

// An output stream the test can watch while the client writes to it from its threads; with
// `holdUntil`, a reader that cannot keep up.
class WatchedBuffer : public std::stringbuf {
 public:
  explicit WatchedBuffer(std::function<bool()> holdUntil = {})
      : m_holdUntil(std::move(holdUntil)) {}
  bool waitFor(const std::string& text) {
    std::unique_lock<std::recursive_mutex> lock(m_mutex);
    return m_grew.wait_for(lock, std::chrono::seconds(20),
                           [&] { return str().find(text) != std::string::npos; });
  }
  std::string text() {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return str();
  }

 protected:
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    return written([&] { return std::stringbuf::xsputn(s, n); });
  }
  int_type overflow(int_type c) override {
    return written([&] { return std::stringbuf::overflow(c); });
  }

 private:
  // Given `holdUntil`, the first write waits until it holds (or 20 s pass).
  template <class Write>
  std::invoke_result_t<Write> written(Write write) {
    if (m_holdUntil && !m_held) {
      for (int i = 0; i < 20000 && !m_holdUntil(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      m_held = true;
    }
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    auto result = write();
    m_grew.notify_all();
    return result;
  }
  const std::function<bool()> m_holdUntil;
  std::atomic<bool> m_held{false};
  std::recursive_mutex m_mutex;  // the base's xsputn may call overflow
  std::condition_variable_any m_grew;
};

struct Result {
  int exitCode;
  std::string out;
  std::string err;
};

class VeltwmiSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_mof = (m_folder / "gadgets.mof").string();
    std::ofstream(m_mof) << kGadgetMof;
    setenv("VELT_REGISTRY", (m_folder / "registry.db").c_str(), 1);
    // The client's repository is the test's own, never the user's.
    setenv("XDG_DATA_HOME", (m_folder / "data").c_str(), 1);
    VeltRegistryReset();
    resetGadgets();
  }
  void TearDown() override {
    floodEvents(false);
    VeltRegistryReset();
  }
  Result run(std::vector<std::string> args, const std::string& input = "",
             std::ostream* out = nullptr, bool terminal = false) {
    args.insert(args.begin(), {"--mof", m_mof, "-n", "root\\test"});
    return runBare(std::move(args), input, out, terminal);
  }
  // Without a MOF of the test's own: the repository as earlier commands left it, and the
  // sample's MOF compiled into it when it lacks the sample.
  Result runBare(std::vector<std::string> args, const std::string& input = "",
                 std::ostream* out = nullptr, bool terminal = false,
                 const std::string& sampleMof = "") {
    std::ostringstream ownOut, err;
    std::istringstream in(input);
    Console console(out ? *out : ownOut, err, terminal);
    Environment environment{
        {gadgetProviderMain, (m_folder / "server").string()}, sampleMof, in, false};
    int code = runVeltwmi(args, console, environment);
    return {code, ownOut.str(), err.str()};
  }

  // Runs the client on a thread of its own and answers whether it ended within 20 s; if not,
  // the flood stops and the client is interrupted, so the test still ends.
  bool endsUnderAFlood(
      std::vector<std::string> args, std::ostream& out, Result& result,
      const std::function<void()>& whileRunning = [] {}) {
    std::promise<void> ended;
    std::thread client([&] {
      result = run(std::move(args), "", &out);
      ended.set_value();
    });
    whileRunning();
    bool inTime =
        ended.get_future().wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    floodEvents(false);
    setInterrupted(true);
    client.join();
    return inTime;
  }

  TempDir m_temp;
  const std::filesystem::path m_folder = m_temp.path();
  std::string m_mof;
};

// Each command's plain output is the end-to-end demo's; here what only the client decides.
TEST_F(VeltwmiSessionTest, GetIgnoresCasePutKeepsWhatItDoesNotNameAndCallPrintsItsOutput) {
  registerGadgetServer();
  Result got = run({"get", "gadget.name=\"g1\"", "--format", "list"});
  EXPECT_EQ(got.exitCode, kExitOk) << got.err;
  EXPECT_NE(got.out.find("Size   : 1\n"), std::string::npos);

  // Size comes from the provider's instance, and what prints is what the provider stored: it
  // keeps no tags.
  Result put = run({"put", "Gadget", "Name=g2", "Tags={x, \"y z\"}", "-f", "json"});
  EXPECT_EQ(put.exitCode, kExitOk) << put.err;
  EXPECT_NE(put.out.find("\"Size\": 2, \"Tags\": null"), std::string::npos) << put.out;

  Result called = run({"call", "Gadget.Name=\"g0\"", "Grow", "By=5", "-f", "mof"});
  EXPECT_EQ(called.exitCode, kExitOk) << called.err;
  EXPECT_NE(called.out.find("instance of __PARAMETERS"), std::string::npos) << called.out;
  EXPECT_NE(called.out.find("NewSize = 15;"), std::string::npos);
}

// A list streams; a table waits for its last row to align its columns.
TEST_F(VeltwmiSessionTest, ListRowsPrintAsTheProviderDeliversThem) {
  registerGadgetServer();
  holdEnumerations(true);
  WatchedBuffer buffer;
  std::ostream out(&buffer);
  Result result{};
  std::thread client([&] { result = run({"enum", "Gadget", "-f", "list"}, "", &out); });
  EXPECT_TRUE(buffer.waitFor("g0"));
  EXPECT_EQ(buffer.text().find("g1"), std::string::npos);  // the provider still holds the rest
  holdEnumerations(false);
  client.join();
  EXPECT_EQ(result.exitCode, kExitOk) << result.err;
  EXPECT_NE(buffer.text().find("g2"), std::string::npos);
}

TEST_F(VeltwmiSessionTest, OnATerminalStderrCountsTheRowsAndClearsTheCountBeforeOutput) {
  registerGadgetServer();
  Result counted = run({"enum", "Gadget"}, "", nullptr, true);
  EXPECT_EQ(counted.exitCode, kExitOk);
  EXPECT_NE(counted.err.find("\r1 row received"), std::string::npos);
  EXPECT_NE(counted.err.find("\r3 rows received"), std::string::npos);
  EXPECT_EQ(counted.err.substr(counted.err.size() - 4), "\r\033[K");  // nothing left standing
  EXPECT_EQ(run({"enum", "Gadget"}).err, "");                         // not a terminal: no count
}

TEST_F(VeltwmiSessionTest, FailuresNameTheStatusAndExitByKind) {
  Result unregistered = run({"enum", "Gadget"});
  EXPECT_EQ(unregistered.exitCode, kExitRequestFailed);
  EXPECT_NE(unregistered.err.find("REGDB_E_CLASSNOTREG (0x80040154)"), std::string::npos);
  EXPECT_NE(unregistered.err.find("VeltProxyProvider -RegServer"), std::string::npos);

  registerGadgetServer();
  // A provider failure points at the trace log, and at the marker that switches it on.
  Result broken = run({"get", "Gadget.Name=\"Broken\""});
  EXPECT_NE(broken.err.find("WBEM_E_FAILED (0x80041001)"), std::string::npos);
  EXPECT_NE(broken.err.find("touch " + m_folder.string() + "/qelvor.dbg"), std::string::npos);
  std::ofstream(m_folder / "qelvor.dbg").close();
  broken = run({"get", "Gadget.Name=\"Broken\""});
  EXPECT_NE(broken.err.find(m_folder.string() + "/qelvor.log"), std::string::npos);

  struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::string says;
  };
  std::vector<Case> cases = {
      {{"get", "Gadget."},
       kExitRequestFailed,
       "veltwmi: get Gadget.: WBEM_E_INVALID_OBJECT_PATH (0x8004103A)\n"},
      {{"get", "Gadget.Name=\"nope\""}, kExitRequestFailed, "WBEM_E_NOT_FOUND (0x80041002)"},
      // get checks its answer against the class it asked for
      {{"get", "Gadget.Name=\"Stranger\""},
       kExitRequestFailed,
       "an instance of GadgetChanged, not of Gadget"},
      {{"put", "Gadget", "Name=x", "Size=big"},
       kExitUsage,
       "veltwmi: Size: 'big' is not a sint32\n"},
      {{"put", "Gadget", "Nme=x"}, kExitUsage, ""},
      {{"call", "Gadget.Name=\"g0\"", "Shrink"}, kExitUsage, ""},
      {{"call", "Gadget.Name=\"g0\"", "Grow", "Bye=1"},
       kExitUsage,
       "veltwmi: Grow() has no in-parameter 'Bye'\n"},
      {{"call", "Gadget.Name=\"g0\"", "Grow", "NewSize=1"},
       kExitUsage,
       "'NewSize' is an out-parameter"},
      {{"enum", "Gadget", "-n", "root\\none"}, kExitSetup, ""},
      {{"--mof", (m_folder / "absent.mof").string(), "classes"}, kExitSetup, ""},
      {{"run", (m_folder / "none.txt").string()}, kExitSetup, ""},
      {{"run", m_folder.string()}, kExitSetup, "is a folder"},
      {{"--mof", m_folder.string(), "classes"}, kExitSetup, "is a folder"},
      {{"sleep", "1"}, kExitUsage, ""},
      {{"query", "SELECT * FROM Gizmo"}, kExitRequestFailed, ""},
      {{"watch", "SELECT * FROM GadgetChanged WHERE Size LIKE 5", "--for", "0"},
       kExitUsage,
       "position 45: LIKE takes a string"},
  };
  // get checks its path against the class before anything is sent
  for (const char* path :
       {"Gadget.Nme=\"g1\"", "Gadget.Size=1", "Gadget", "\\\\.\\root\\test:Gadget"}) {
    cases.push_back({{"get", path}, kExitUsage, "(its keys: Name)"});
  }
  // An unknown class is one fault, whichever command meets it.
  for (std::vector<std::string> command : {std::vector<std::string>{"enum", "Nothing"},
                                           {"get", "Nothing.Name=\"x\""},
                                           {"put", "Nothing", "Name=x"},
                                           {"call", "Nothing.Name=\"x\"", "Grow"},
                                           {"watch", "Nothing", "--for", "0"},
                                           {"classes", "Nothing"}}) {
    cases.push_back({command, kExitUsage, "class Nothing: WBEM_E_INVALID_CLASS (0x80041010)"});
  }
  for (const Case& c : cases) {
    Result failed = run(c.args);
    EXPECT_EQ(failed.exitCode, c.exitCode) << c.args[0] << " " << c.args[1];
    EXPECT_NE(failed.err.find(c.says), std::string::npos) << failed.err;
    EXPECT_EQ(failed.out, "") << c.args[0] << " " << c.args[1];
  }
  EXPECT_EQ(run({"run"}, "put Gadget Name='open\n").exitCode, kExitUsage);
  Result help = run({"call", "--help"});
  EXPECT_EQ(help.exitCode, kExitOk);
  EXPECT_EQ(help.out.rfind("Usage: veltwmi call", 0), 0u);
}

// check reports what would fail only on a request, and exits 1 on an error.
TEST_F(VeltwmiSessionTest, CheckCrossChecksTheMofAndTheRegistry) {
  Result unregistered = run({"check"});
  EXPECT_EQ(unregistered.exitCode, kExitRequestFailed);
  EXPECT_NE(unregistered.out.find("root\\test: error: provider GadgetProvider: CLSID "
                                  "{3C2B7A10-5E4F-4D21-8B6A-910E2D447FC3} is not registered"),
            std::string::npos)
      << unregistered.out;
  registerGadgetServer();
  Result sound = run({"check"});
  EXPECT_EQ(sound.exitCode, kExitOk) << sound.out;
  EXPECT_EQ(sound.out, "1 namespace checked: 0 errors, 0 warnings\n");

  std::string faulty = (m_folder / "faulty.mof").string();
  std::ofstream(faulty) << R"MOF(
#pragma namespace("\\\\.\\root\\test")
[dynamic, provider("GadgetProvider")] class Keyless { [kye] string Name; };
[dynamic, provider("Nobody")] class Orphan { [key] string Name; };
class Lonely { [key] string Name; };
instance of __Win32Provider as $Q { Name = "Unused"; CLSID = "{3C2B7A10-5E4F-4D21-8B6A-910E2D447FC3}"; };
instance of __EventProviderRegistration { Provider = $Q; EventQueryList = {"select * from Missing"}; };
)MOF";
  Result found = run({"--mof", faulty, "check"});
  EXPECT_EQ(found.exitCode, kExitRequestFailed);
  for (const char* line :
       {"error: class Keyless: unknown qualifier [kye] on property Name\n",
        "error: class Keyless is dynamic but has no [key] property",
        "error: class Orphan: provider(\"Nobody\") matches no __Win32Provider",
        "warning: class Lonely has no provider",
        "error: provider Unused: its EventQueryList names Missing, a class no loaded MOF declares",
        "1 namespace checked: 4 errors, 1 warning\n"}) {
    EXPECT_NE(found.out.find(line), std::string::npos) << line << "\n" << found.out;
  }
}

TEST_F(VeltwmiSessionTest, QueryPrintsTheSelectedPropertiesOfTheMatchingInstances) {
  registerGadgetServer();
  Result selected = run({"query", "SELECT Size FROM Gadget WHERE Size > 0 AND Name LIKE 'G%'"});
  EXPECT_EQ(selected.exitCode, kExitOk) << selected.err;
  EXPECT_EQ(selected.out, "Size\n----\n1\n2\n");
  Result json = run({"query", "select * from Gadget where name = 'G1'", "-f", "json"});
  EXPECT_EQ(json.exitCode, kExitOk) << json.err;
  EXPECT_NE(json.out.find("\"Name\": \"g1\", \"Size\": 1"), std::string::npos) << json.out;

  Result malformed = run({"query", "SELECT * FROM Gadget WHERE Size >> 1"});
  EXPECT_EQ(malformed.exitCode, kExitUsage);
  EXPECT_EQ(malformed.err,
            "veltwmi: query: WBEM_E_INVALID_QUERY (0x80041017)\n"
            "  position 34: expected a constant, found '>'\n"
            "  operation: ExecQuery\n"
            "  SELECT * FROM Gadget WHERE Size >> 1\n"
            "                                   ^\n");
}

TEST_F(VeltwmiSessionTest, ABatchSharesOneServerSoAPutShowsUpInAWatch) {
  registerGadgetServer();
  Result batch = run({"run"},
                     "# the watch keeps running beside the next commands\n"
                     "watch 'SELECT * FROM GadgetChanged WHERE Size > 5' -f json\n"
                     "put Gadget Name=small Size=1\n"
                     "put Gadget Name=n1 Size=9\n"
                     "echo enumerating\n"
                     "enum Gadget --format=list\n");
  EXPECT_EQ(batch.exitCode, kExitOk) << batch.err;
  EXPECT_NE(batch.out.find("{\"__CLASS\": \"GadgetChanged\", \"Name\": \"n1\", \"Size\": 9}\n"),
            std::string::npos)
      << batch.out;
  // The watch shows only the events its query selects.
  EXPECT_EQ(batch.out.find("{\"__CLASS\": \"GadgetChanged\", \"Name\": \"small\""),
            std::string::npos)
      << batch.out;
  // The enumeration ran in the same server, which still held n1.
  EXPECT_NE(batch.out.find("enumerating\n"), std::string::npos);
  EXPECT_NE(batch.out.find("Name   : n1"), std::string::npos);

  std::filesystem::path script = m_folder / "script.txt";
  std::ofstream(script) << "get 'Gadget.Name=\"g0\"'\nget Gadget.\nenum Gadget\n";
  Result stopped = run({"run", script.string()});
  EXPECT_EQ(stopped.exitCode, kExitRequestFailed);
  EXPECT_NE(stopped.err.find(script.string() + ":2: the batch stops here"), std::string::npos)
      << stopped.err;
  EXPECT_EQ(stopped.out.find("g1"), std::string::npos);  // line 3 never ran
  std::ofstream(script) << "\xEF\xBB\xBF"
                           "echo marked\n";  // as Windows editors save UTF-8
  Result marked = run({"run", script.string()});
  EXPECT_EQ(marked.exitCode, kExitOk) << marked.err;
  EXPECT_EQ(marked.out, "marked\n");
}

// A provider that fires without pause: the watch still ends on time, holds no more than its
// queue, and says how many events it dropped.
TEST_F(VeltwmiSessionTest, AWatchUnderAFloodEndsOnTimeAndCountsWhatItDropped) {
  registerGadgetServer();
  floodEvents(true);
  unsigned long before = floodedEvents();
  // The first event is printed only after the flood overran the queue twice.
  WatchedBuffer held([&] { return floodedEvents() - before > 2 * kWatchQueueLimit; });
  std::ostream out(&held);
  Result result{};
  ASSERT_TRUE(
      endsUnderAFlood({"watch", "GadgetChanged", "--for", "0.2", "-f", "json"}, out, result));
  EXPECT_EQ(result.exitCode, kExitOk) << result.err;
  EXPECT_NE(result.err.find(" events dropped: they came faster than they could be printed"),
            std::string::npos)
      << result.err;
  EXPECT_NE(held.text().find("\"Name\": \"flood\""), std::string::npos);
}

// --for beyond what the clock holds waits (it used to end at once); SIGTERM ends it.
TEST_F(VeltwmiSessionTest, SigtermEndsAnEndlessWatchUnderAFlood) {
  registerGadgetServer();
  floodEvents(true);
  installInterruptHandler();
  WatchedBuffer buffer;
  std::ostream out(&buffer);
  Result result{};
  EXPECT_TRUE(
      endsUnderAFlood({"watch", "GadgetChanged", "--for", "inf", "-f", "json"}, out, result, [&] {
        EXPECT_TRUE(buffer.waitFor("flood"));
        std::raise(SIGTERM);
      }));
  std::signal(SIGTERM, SIG_DFL);
  std::signal(SIGINT, SIG_DFL);
  EXPECT_EQ(result.exitCode, kExitOk) << result.err;
}

// mofcomp fills the user's repository (the test's own XDG_DATA_HOME), which later commands read
// without --mof; a faulty file adds nothing and says where its fault is.
TEST_F(VeltwmiSessionTest, MofcompFillsTheRepositoryThatLaterCommandsRead) {
  Result compiled = runBare({"mofcomp", m_mof});
  EXPECT_EQ(compiled.exitCode, kExitOk) << compiled.err;
  EXPECT_EQ(compiled.out, m_mof +
                              ":\n  class    root\\test:Gadget added\n"
                              "  class    root\\test:GadgetChanged added\n"
                              "  provider root\\test:GadgetProvider added\n");
  EXPECT_TRUE(std::filesystem::exists(m_folder / "data/norvexvelt/repository.db"));

  std::string bad = (m_folder / "bad.mof").string();
  std::ofstream(bad) << "#pragma namespace(\"\\\\\\\\.\\\\root\\\\test\")\n"
                        "class Extra { string A; };\nclass Broken { sint33 B; };\n";
  Result refused = runBare({"mofcomp", bad});
  EXPECT_EQ(refused.exitCode, kExitSetup);
  EXPECT_NE(refused.err.find(bad + ":3:16: unknown type sint33"), std::string::npos) << refused.err;
  EXPECT_NE(refused.err.find("nothing of " + bad + " was added"), std::string::npos);

  Result listed = runBare({"classes", "-n", "root\\test"});
  EXPECT_EQ(listed.exitCode, kExitOk) << listed.err;
  EXPECT_NE(listed.out.find("Gadget  (provider GadgetProvider)"), std::string::npos) << listed.out;
  EXPECT_EQ(listed.out.find("Extra"), std::string::npos);

  Result again = runBare({"mofcomp", m_mof});
  EXPECT_NE(again.out.find("root\\test:Gadget unchanged"), std::string::npos) << again.out;

  // Without MOF of its own, a repository that lacks the sample gets it first.
  Result sample = runBare({"classes", "-n", "root\\norvex\\sample", "NorvexJvm_Runtime"}, "",
                          nullptr, false, VELT_SAMPLE_MOF);
  EXPECT_EQ(sample.exitCode, kExitOk) << sample.err;
  EXPECT_NE(sample.out.find("NorvexJvm_Runtime"), std::string::npos) << sample.out;
}

}  // namespace
}  // namespace veltwmi::test
