// The class path and the system properties an installation yields.
#include <jvm/JvmServices.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <winplatform/posix_hooks.h>

#include "test_layout.h"

using ::testing::Contains;
using ::testing::EndsWith;
using ::testing::StartsWith;
using velt::test::recordTexts;
using velt::test::TestLayout;

namespace {

class Installation : public ::testing::Test {
 protected:
  void SetUp() override {
    layout.openLog();
    velt::test::removeInstallRecord();
    services = JvmServices::acquire();
    ASSERT_NE(services, nullptr);
  }
  void TearDown() override { JvmServices::release(); }

  // What buildEnvironmentDefines makes: WINDIR, home, temporary folder, program directory.
  std::vector<std::string> defines() {
    std::vector<std::string> made(4);
    services->buildEnvironmentDefines(made[0], made[1], made[2], made[3]);
    return made;
  }

  TestLayout layout;
  JvmServices* services = nullptr;
};

TEST_F(Installation, ClassPathListsTheDirectoryAndEveryJarLikeEntry) {
  layout.touch("ab/a.jar");
  layout.touch("ab/b.jar");
  layout.touch("ab/notes.txt");
  std::filesystem::create_directories(layout.root() / "ab/classes.jar");

  std::string jarList;
  ASSERT_TRUE(services->buildClassPath(jarList));

  std::string directory = layout.programDirectory().string();
  EXPECT_THAT(jarList, StartsWith(directory + ":" + directory + "/"));
  EXPECT_THAT(jarList, EndsWith(".jar:"));
  for (const char* name : {"a.jar", "b.jar", "classes.jar"}) {
    EXPECT_NE(jarList.find(":" + directory + "/" + name + ":"), std::string::npos) << name;
    EXPECT_THAT(recordTexts(layout.logLines()), Contains(std::string("The File found is ") + name));
  }
  EXPECT_EQ(jarList.find("notes.txt"), std::string::npos);
  EXPECT_EQ(jarList.size(),
            directory.size() * 4 + std::string(":/a.jar:/b.jar:/classes.jar:").size());
}

TEST_F(Installation, NoClassPathForAnExecutableWithoutDirectory) {
  VeltSetModuleFileNameOverride("/server");
  std::string jarList = "untouched";
  EXPECT_FALSE(services->buildClassPath(jarList));
  EXPECT_EQ(defines()[3], "");
}

TEST_F(Installation, InstallPathWithoutTrailingSeparatorLosesItsLastComponent) {
  velt::test::writeInstallRecord("/opt/prog/q", "4.1");
  std::string homeDefine, installDirectory, version;
  ASSERT_TRUE(services->readInstallRecord(homeDefine, installDirectory, version));
  EXPECT_EQ(homeDefine, "TARVO_HOME=/opt/prog/");
  EXPECT_EQ(installDirectory, "/opt/prog/");
  EXPECT_EQ(version, "4.1");
}

TEST_F(Installation, MissingOrOversizedRecordLeavesHomeEmpty) {
  EXPECT_EQ(defines()[1], "");
  EXPECT_EQ(defines()[2], "TEMPDIR=" + (layout.root() / "appdata").string());

  // A value longer than the path buffer is refused, not cut.
  velt::test::writeInstallRecord("/" + std::string(MAX_PATH, 'q') + "/", "4.1");
  std::string home = "before", directory = "before", version = "before";
  EXPECT_FALSE(services->readInstallRecord(home, directory, version));
  EXPECT_EQ(home, "before");
  EXPECT_EQ(directory, "before");
  EXPECT_EQ(version, "before");
}

}  // namespace
