// The persistent repository: what is compiled comes back exactly after a restart; a faulty
// file adds nothing; processes opening it or compiling into it at once lose nothing. (A process
// killed while compiling is the daemon's reliability test: the daemon compiles as it starts.)
#include <gtest/gtest.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include <owners/com_ptr.h>
#include "gadget_provider.h"
#include "repository.h"
#include "temp_dir.h"
#include "wmi_model/mof_error.h"
#include "wmi_test_support.h"

extern char** environ;

namespace velt::wmi::detail {
namespace {

using test::valueText;

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void writeFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string qualifiersText(const Qualifiers& qualifiers) {
  std::string out = "[";
  for (const Qualifier& q : qualifiers) {
    out += utf8FromUtf16(q.name) + "(" + valueText(q.value) + ")/" + std::to_string(q.flavor) + ";";
  }
  return out + "]";
}

std::string layoutText(const ClassLayout& layout) {
  std::string out = utf8FromUtf16(layout.name) + " in " + utf8FromUtf16(layout.nameSpace) + " of " +
                    utf8FromUtf16(layout.server) + " from";
  for (const std::u16string& up : layout.derivation) out += " " + utf8FromUtf16(up);
  out += " " + qualifiersText(layout.qualifiers) + "\n";
  for (const PropertyDef& p : layout.properties) {
    out += "  " + utf8FromUtf16(p.name) + ":" + std::to_string(p.type) + "=" +
           valueText(p.defaultValue) + " " + qualifiersText(p.qualifiers) + " origin " +
           utf8FromUtf16(p.originClass) + "\n";
  }
  for (const MethodDef& m : layout.methods) {
    out += "  " + utf8FromUtf16(m.name) + "() " + qualifiersText(m.qualifiers) + " origin " +
           utf8FromUtf16(m.originClass) + "\n";
    if (m.inParameters) out += "   in " + layoutText(*m.inParameters);
    if (m.outParameters) out += "   out " + layoutText(*m.outParameters);
  }
  return out;
}

// Everything a repository serves, as text: every class whole, every registration.
std::string contentsText(Repository& repository) {
  std::string out;
  for (const NamespaceData& ns : repository.snapshots()) {
    out += "namespace " + utf8FromUtf16(ns.name) + "\n";
    for (const auto& [key, def] : ns.classes) out += layoutText(*layoutOf(*def));
    for (const auto& [key, r] : ns.providers) {
      out += "provider " + utf8FromUtf16(r.name) + " " + std::to_string(r.clsid.Data1) +
             std::to_string(r.instanceProvider) + std::to_string(r.methodProvider) +
             std::to_string(r.eventProvider) + std::to_string(r.supportsGet) +
             std::to_string(r.supportsPut) + std::to_string(r.supportsEnumeration);
      for (const std::u16string& c : r.eventClasses) out += " " + utf8FromUtf16(c);
      out += "\n";
    }
  }
  return out;
}

std::size_t classCount(Repository& repository, const std::u16string& nameSpace) {
  std::optional<NamespaceData> ns = repository.snapshot(nameSpace);
  return ns ? ns->classes.size() - 2 : 0;  // without the two status classes
}

class RepositoryTest : public ::testing::Test {
 protected:
  std::string path() const { return m_dir / "data/norvexvelt/repository.db"; }
  ServiceOptions options() const {
    ServiceOptions o;
    o.serverName = u"HOST1";
    o.repositoryPath = path();
    return o;
  }
  std::unique_ptr<Repository> open() {
    std::filesystem::create_directories(std::filesystem::path(path()).parent_path());
    return std::make_unique<Repository>(path(), u"HOST1");
  }

  TempDir m_dir;
};

TEST_F(RepositoryTest, WhatIsCompiledComesBackExactlyAfterARestartAndInAPrivateFolder) {
  std::string sample = readFile(VELT_SAMPLE_MOF);
  Repository memory("", u"HOST1");
  memory.compile(test::kTestMof, "test.mof");
  memory.compile(veltwmi::test::kGadgetMof, "gadgets.mof");
  memory.compile(sample, "sample.mof");
  {
    Service first(options());
    first.loadMofText(test::kTestMof, "test.mof");
    first.loadMofText(veltwmi::test::kGadgetMof, "gadgets.mof");
    first.loadMofText(sample, "sample.mof");
  }
  struct stat folder {};
  ASSERT_EQ(stat(std::filesystem::path(path()).parent_path().c_str(), &folder), 0);
  EXPECT_EQ(folder.st_mode & 0777, 0700u);

  std::unique_ptr<Repository> reopened = open();
  std::string expected = contentsText(memory);
  EXPECT_GT(expected.size(), 2000u);
  EXPECT_EQ(contentsText(*reopened), expected);

  Service second(options());
  EXPECT_TRUE(second.hasNamespace(u"ROOT\\Test"));
  EXPECT_TRUE(second.hasNamespace(u"root\\norvex\\sample"));
  EXPECT_EQ(second.registrations().at(u"root\\test").size(), 1u);
}

// What a compile reports as added or unchanged is veltwmi mofcomp's test.
TEST_F(RepositoryTest, RecompilingReplacesAndDerivedClassesFollowTheirBase) {
  Service service(options());
  service.loadMofText(
      "#pragma namespace(\"\\\\\\\\.\\\\root\\\\r\")\n"
      "class A { [key] string Name; };\nclass B : A { string More; };\n",
      "one.mof");
  CompileReport changed = service.loadMofText(
      "#pragma namespace(\"\\\\\\\\.\\\\root\\\\r\")\n"
      "class A { [key] string Name; sint32 Added; };\n",
      "two.mof");
  ASSERT_EQ(changed.size(), 1u);
  EXPECT_EQ(changed[0].change, CompiledItem::Change::kReplaced);

  std::unique_ptr<Repository> reopened = open();
  std::shared_ptr<const ClassDef> b = reopened->findClass(u"root\\r", u"B");
  ASSERT_TRUE(b);
  EXPECT_TRUE(b->findProperty(u"Added"));
  EXPECT_TRUE(b->findProperty(u"More"));
}

TEST_F(RepositoryTest, AFaultyFileAddsNothingAndNamesItsPlace) {
  Service service(options());
  const std::string ns = "#pragma namespace(\"\\\\\\\\.\\\\root\\\\f\")\n";
  service.loadMofText(ns + "class A { [key] string Name; string P; };\n", "a.mof");
  service.loadMofText(ns + "class B : A { string P; };\n", "b.mof");
  const std::string before = contentsText(*open());

  struct Case {
    const char* what;
    std::string text;
    int line, column;
    const char* message;
  };
  const Case cases[] = {
      {"a syntax fault after a good class", ns + "class C { string X; };\nclass D { string Y }\n",
       3, 20, "';' expected"},
      {"a registration of an unknown provider after a class",
       ns + "class C { string X; };\ninstance of __InstanceProviderRegistration { Provider = "
            "\"__Win32Provider.Name=\\\"Nobody\\\"\"; };\n",
       3, 57, "unknown provider Nobody"},
      {"a change of a base that a class of another file no longer fits",
       ns + "class C { string X; };\nclass A { [key] string Name; sint32 P; };\n", 3, 7,
       "class B derives from this class and would no longer be valid: override of P changes its "
       "type"},
      {"a base made to derive from its own subclass", ns + "class A : B { };\n", 2, 7,
       "class A would derive from itself through B"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    try {
      service.loadMofText(c.text, "bad.mof");
      ADD_FAILURE() << "accepted";
    } catch (const MofError& fault) {
      EXPECT_EQ(fault.file(), "bad.mof");
      EXPECT_EQ(fault.line(), c.line);
      EXPECT_EQ(fault.column(), c.column);
      EXPECT_EQ(fault.message(), c.message);
    }
    EXPECT_EQ(contentsText(*open()), before);
  }
}

// The helper compiling `mof` into the repository, as a process of its own.
pid_t startCompiler(const std::string& repository, const std::string& mof) {
  const char* argv[] = {VELT_REPOSITORY_COMPILER, repository.c_str(), mof.c_str(), nullptr};
  pid_t child = -1;
  EXPECT_EQ(posix_spawn(&child, VELT_REPOSITORY_COMPILER, nullptr, nullptr,
                        const_cast<char**>(argv), environ),
            0);
  return child;
}

int waitFor(pid_t child) {
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string largeMof(const std::string& nameSpace, int classes, const std::string& prefix = "K") {
  std::string text = "#pragma namespace(\"\\\\\\\\.\\\\root\\\\" + nameSpace + "\")\n";
  text += "class " + prefix + "0 { [key] string Name; sint32 Value; };\n";
  for (int i = 1; i < classes; ++i) {
    // Chains of ten, so that the file has superclasses of its own as well as independent roots.
    std::string base = i % 10 ? " : " + prefix + std::to_string(i - 1) : "";
    text += "[Description(\"class " + std::to_string(i) + "\")] class " + prefix +
            std::to_string(i) + base + " { " + (base.empty() ? "[key] string Name; " : "") +
            "string P" + std::to_string(i) + " = \"v" + std::to_string(i) + "\"; uint64 Q" +
            std::to_string(i) + "; };\n";
  }
  return text;
}

std::string integrity(const std::string& path) {
  sqlite3* db = nullptr;
  std::string result = "cannot open";
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* check = nullptr;
    sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr);
    result = sqlite3_step(check) == SQLITE_ROW
                 ? reinterpret_cast<const char*>(sqlite3_column_text(check, 0))
                 : sqlite3_errmsg(db);
    sqlite3_finalize(check);
  }
  sqlite3_close(db);
  return result;
}

// Commands starting at once on a repository that does not exist yet all open it: those that do
// not create it wait for the one that does rather than failing on its lock.
TEST_F(RepositoryTest, ClientsOpeningAFreshRepositoryAtOnceAllOpenIt) {
  for (int round = 0; round < 5; ++round) {
    std::filesystem::remove_all(std::filesystem::path(path()).parent_path());
    std::vector<pid_t> clients;
    for (int i = 0; i < 8; ++i) {
      pid_t child = fork();
      if (child == 0) {
        try {
          Service client(options());
        } catch (const std::exception& fault) {
          fprintf(stderr, "%s\n", fault.what());
          _exit(1);
        }
        _exit(0);
      }
      clients.push_back(child);
    }
    for (pid_t child : clients) EXPECT_EQ(waitFor(child), 0);
  }
}

TEST_F(RepositoryTest, CompilersAtOnceLoseNothing) {
  constexpr int kCompilers = 6, kClasses = 300;
  open();  // the folder
  std::vector<pid_t> children;
  for (int i = 0; i < kCompilers; ++i) {
    std::string mof = m_dir / ("c" + std::to_string(i) + ".mof");
    // Half share one namespace, each with classes of its own there.
    std::string nameSpace = i % 2 ? "shared" + std::to_string(i) : "shared";
    writeFile(mof, largeMof(nameSpace, kClasses, "K" + std::to_string(i) + "_"));
    children.push_back(startCompiler(path(), mof));
  }
  for (pid_t child : children) EXPECT_EQ(waitFor(child), 0);
  std::unique_ptr<Repository> all = open();
  EXPECT_EQ(classCount(*all, u"root\\shared"), std::size_t(kClasses * (kCompilers / 2)));
  for (int i = 1; i < kCompilers; i += 2) {
    EXPECT_EQ(classCount(*all, u"root\\shared" + utf16FromUtf8(std::to_string(i))),
              std::size_t(kClasses));
  }
  EXPECT_EQ(integrity(path()), "ok");
}

}  // namespace
}  // namespace velt::wmi::detail
