// A local server's registered command line, read as the Windows process start reads it.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "remoting/command_line.h"

namespace {

using velt::remoting::readServerCommand;
using velt::remoting::splitWindowsArguments;
using Arguments = std::vector<std::string>;

TEST(ServerCommandLineTest, FindsTheProgramAsTheProcessStartDoes) {
  std::set<std::string> programs{"/opt/a b/server"};
  auto isProgram = [&programs](const std::string& path) { return programs.count(path) > 0; };

  auto command = readServerCommand("/opt/a b/server -x", isProgram);
  ASSERT_TRUE(command);
  EXPECT_EQ(command->program, "/opt/a b/server");
  EXPECT_EQ(command->arguments, Arguments{"-x"});

  command = readServerCommand("  \"/opt/a b/server\"-x \"y z\"", isProgram);
  ASSERT_TRUE(command);
  EXPECT_EQ(command->program, "/opt/a b/server");
  EXPECT_EQ(command->arguments, (Arguments{"-x", "y z"}));

  // Unquoted, the shortest prefix that names a program wins: why a path with blanks is quoted.
  programs.insert("/opt/a");
  command = readServerCommand("/opt/a b/server", isProgram);
  ASSERT_TRUE(command);
  EXPECT_EQ(command->program, "/opt/a");
  EXPECT_EQ(command->arguments, Arguments{"b/server"});

  // Nothing names a program: the first word is the one that could not be started.
  command = readServerCommand("/missing program -x", isProgram);
  ASSERT_TRUE(command);
  EXPECT_EQ(command->program, "/missing");
  command = readServerCommand("\"/opt/a b/server", isProgram);  // no closing quote
  ASSERT_TRUE(command);
  EXPECT_EQ(command->program, "/opt/a b/server");
  EXPECT_FALSE(readServerCommand(" \t", isProgram));
  EXPECT_FALSE(readServerCommand("\"\" -x", isProgram));
}

TEST(ServerCommandLineTest, SplitsArgumentsByTheStartUpCodesRules) {
  EXPECT_EQ(splitWindowsArguments(R"(a "b c" d\\"e f"g f\"g "h""i" \\ "" x\y)"),
            (Arguments{"a", "b c", R"(d\e fg)", R"(f"g)", R"(h"i)", R"(\\)", "", R"(x\y)"}));
  EXPECT_EQ(splitWindowsArguments("  \t "), Arguments{});
}

}  // namespace
