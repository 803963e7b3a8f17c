#include <gtest/gtest.h>
#include <windows.h>
#include <winplatform/posix_hooks.h>

#include <filesystem>
#include <string>

#include "temp_dir.h"

namespace {

std::string moduleFileName(HMODULE module) {
  char path[4096];
  DWORD length = GetModuleFileNameA(module, path, sizeof path);
  return std::string(path, length);
}

class ModuleTest : public ::testing::Test {
 protected:
  void TearDown() override {
    VeltSetModuleFileNameOverride(nullptr);
    SetEnvironmentVariableA("PATH", m_savedPath.empty() ? nullptr : m_savedPath.c_str());
  }

  // Places "the executable" in `directory` and the probe library as `libraryName` in each of
  // `copies`.
  void layOut(const std::string& executable, std::initializer_list<std::string> copies) {
    VeltSetModuleFileNameOverride(executable.c_str());
    for (const auto& copy : copies) {
      std::filesystem::create_directories(std::filesystem::path(copy).parent_path());
      std::filesystem::copy_file(PROBE_LIBRARY_PATH, copy);
    }
  }

  static int answer(HMODULE module) {
    auto probe = reinterpret_cast<int (*)()>(
        reinterpret_cast<void*>(GetProcAddress(module, "velt_probe_answer")));
    return probe ? probe() : -1;
  }

  TempDir m_dir;
  std::string m_savedPath = [] {
    const char* path = std::getenv("PATH");
    return std::string(path ? path : "");
  }();
};

TEST_F(ModuleTest, ExecutablePathIsRealUnlessOverriddenAndASmallBufferTruncates) {
  std::string real = moduleFileName(nullptr);
  EXPECT_EQ(real, std::filesystem::canonical("/proc/self/exe").string());
  EXPECT_EQ(moduleFileName(GetModuleHandleA(nullptr)), real);
  VeltSetModuleFileNameOverride("/opt/app.exe");  // 12 characters
  EXPECT_EQ(moduleFileName(nullptr), "/opt/app.exe");

  char buffer[8];
  std::memset(buffer, 'Z', sizeof buffer);
  EXPECT_EQ(GetModuleFileNameA(nullptr, buffer, 8), 8u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_STREQ(buffer, "/opt/ap");
  char exact[12];  // no room for the zero either
  EXPECT_EQ(GetModuleFileNameA(nullptr, exact, 12), 12u);
  EXPECT_STREQ(exact, "/opt/app.ex");
  char enough[13];
  EXPECT_EQ(GetModuleFileNameA(nullptr, enough, 13), 12u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_STREQ(enough, "/opt/app.exe");
  VeltSetModuleFileNameOverride(nullptr);
  EXPECT_EQ(moduleFileName(nullptr), real);
}

TEST_F(ModuleTest, RelativeNamesSearchTheExecutableDirectoryThenEachPathEntry) {
  layOut(m_dir / "app/server.exe",
         {m_dir / "app/probe.so", m_dir / "onpath/probe.so", m_dir / "second/sub/probe.so"});
  // Windows code appends to PATH with ';'; both separators split it.
  SetEnvironmentVariableA(
      "PATH", ("/nonexistent:" + (m_dir / "onpath") + ";" + (m_dir / "second")).c_str());
  HMODULE module = LoadLibraryA("probe.so");
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(moduleFileName(module), m_dir / "app/probe.so");
  EXPECT_EQ(answer(module), 42);
  EXPECT_TRUE(FreeLibrary(module));
  module = LoadLibraryA("sub\\probe.so");  // a directory part, tried in each folder
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(moduleFileName(module), m_dir / "second/sub/probe.so");
  FreeLibrary(module);

  // A relative PATH entry is taken from the current folder; the module's name is full anyway.
  std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(m_dir / "second");
  VeltSetModuleFileNameOverride((m_dir / "none/server.exe").c_str());
  SetEnvironmentVariableA("PATH", "sub");
  module = LoadLibraryA("probe.so");
  std::filesystem::current_path(before);
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(moduleFileName(module), m_dir / "second/sub/probe.so");
  FreeLibrary(module);
}

TEST_F(ModuleTest, FailuresReportModuleAndProcedure) {
  layOut(m_dir / "app/server.exe", {m_dir / "app/probe.so"});
  EXPECT_EQ(LoadLibraryA("absent.so"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  EXPECT_EQ(LoadLibraryA((m_dir / "elsewhere/probe.so").c_str()), nullptr);
  HMODULE module = LoadLibraryA((m_dir / "app/probe.so").c_str());
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(GetProcAddress(module, "no_such_function"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  FreeLibrary(module);
}

}  // namespace
