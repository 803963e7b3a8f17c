#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "temp_dir.h"

namespace {

// The names a search finds, in its order; a folder's with a slash after it.
std::vector<std::string> findAll(const std::string& pattern) {
  std::vector<std::string> found;
  WIN32_FIND_DATAA data;
  HANDLE search = FindFirstFileA(pattern.c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return found;
  do {
    const bool folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    found.push_back(data.cFileName + std::string(folder ? "/" : ""));
  } while (FindNextFileA(search, &data));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
  EXPECT_TRUE(FindClose(search));
  return found;
}

// Exact names (a file or a folder) are found by the trace log's marker tests.
TEST(FindFileTest, WildcardsMatchLastComponentCaseInsensitivelyAndMissesSayWhy) {
  TempDir dir;
  dir.touch("b.jar");
  dir.touch("A.JAR");
  dir.touch("a.jar.txt");
  dir.touch("notes.txt");
  std::filesystem::create_directory(dir.path() / "lib.jar");
  // A directory named like a match is listed, flagged.
  EXPECT_EQ(findAll(dir / "*.jar"), (std::vector<std::string>{"A.JAR", "b.jar", "lib.jar/"}));
  EXPECT_EQ(findAll(dir / "?.jar"), (std::vector<std::string>{"A.JAR", "b.jar"}));
  EXPECT_EQ(findAll(dir / "*jar*"),
            (std::vector<std::string>{"A.JAR", "a.jar.txt", "b.jar", "lib.jar/"}));

  WIN32_FIND_DATAA data;
  EXPECT_EQ(FindFirstFileA((dir / "*.dll").c_str(), &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(FindFirstFileA((dir / "missing.dbg").c_str(), &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(FindFirstFileA((dir / "nodir/*.jar").c_str(), &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST(EnvironmentTest, ExpandsTheVariablesThatAreSetAndKeepsTheRest) {
  ASSERT_TRUE(SetEnvironmentVariableA("VELT_TEST_DIR", "/opt/velt"));
  ASSERT_TRUE(SetEnvironmentVariableA("VELT_TEST_UNSET", nullptr));
  const char* text = "%VELT_TEST_DIR%/bin/%VELT_TEST_UNSET%/x %% 100%";
  const char* expected = "/opt/velt/bin/%VELT_TEST_UNSET%/x %% 100%";
  const DWORD needed = ExpandEnvironmentStringsA(text, nullptr, 0);
  EXPECT_EQ(needed, std::strlen(expected) + 1) << "the size it needs, with the terminator";
  std::string buffer(needed, 'x');
  EXPECT_EQ(ExpandEnvironmentStringsA(text, buffer.data(), needed), needed);
  EXPECT_STREQ(buffer.c_str(), expected);
  SetEnvironmentVariableA("VELT_TEST_DIR", nullptr);
}

TEST(EnvironmentTest, WindowsReturnValueRules) {
  ASSERT_TRUE(SetEnvironmentVariableA("VELT_TEST_VAR", "hello"));
  char buffer[16];
  EXPECT_EQ(GetEnvironmentVariableA("VELT_TEST_VAR", buffer, sizeof buffer), 5u);
  EXPECT_STREQ(buffer, "hello");
  EXPECT_EQ(GetEnvironmentVariableA("VELT_TEST_VAR", buffer, 5), 6u) << "needed size with zero";
  EXPECT_EQ(GetEnvironmentVariableA("VELT_TEST_VAR", nullptr, 0), 6u);

  ASSERT_TRUE(SetEnvironmentVariableA("VELT_TEST_VAR", ""));
  SetLastError(ERROR_ACCESS_DENIED);
  EXPECT_EQ(GetEnvironmentVariableA("VELT_TEST_VAR", buffer, sizeof buffer), 0u);
  EXPECT_EQ(GetLastError(), 0u) << "empty value is not a missing one";

  ASSERT_TRUE(SetEnvironmentVariableA("VELT_TEST_VAR", nullptr));
  EXPECT_EQ(GetEnvironmentVariableA("VELT_TEST_VAR", buffer, sizeof buffer), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ENVVAR_NOT_FOUND));
  EXPECT_FALSE(SetEnvironmentVariableA("BAD=NAME", "x"));
}

TEST(DirectoryTest, WindowsDirectoryFollowsWindirWithSizeRules) {
  char buffer[MAX_PATH];
  SetEnvironmentVariableA("WINDIR", nullptr);
  EXPECT_EQ(GetWindowsDirectoryA(buffer, sizeof buffer), 4u);
  EXPECT_STREQ(buffer, "/etc");
  SetEnvironmentVariableA("WINDIR", "/srv/windows");
  EXPECT_EQ(GetWindowsDirectoryA(buffer, 5), 13u);
  EXPECT_EQ(GetWindowsDirectoryA(buffer, sizeof buffer), 12u);
  EXPECT_STREQ(buffer, "/srv/windows");
  SetEnvironmentVariableA("WINDIR", nullptr);
}

}  // namespace
