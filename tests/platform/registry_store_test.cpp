#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>
#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include "temp_registry.h"

namespace {

using RegistryStoreTest = TempRegistryTest;

std::string integrityOf(const std::filesystem::path& file) {
  sqlite3* db = nullptr;
  std::string answer = "cannot open";
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_exec(
        db, "PRAGMA integrity_check",
        [](void* out, int, char** values, char**) {
          *static_cast<std::string*>(out) = values[0];
          return 0;
        },
        &answer, nullptr);
  }
  sqlite3_close(db);
  return answer;
}

TEST_F(RegistryStoreTest, KeysAndValuesSurviveAReopenInTheChosenFile) {
  HKEY key = create("SOFTWARE\\Norvex\\TARVO", HKEY_LOCAL_MACHINE);
  setString(key, "Version", "2.0");
  RegCloseKey(key);
  EXPECT_TRUE(std::filesystem::exists(m_file));

  VeltRegistryReset();
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Norvex\\Tarvo", 0, KEY_QUERY_VALUE, &key),
            ERROR_SUCCESS);
  EXPECT_EQ(queryString(key, "Version"), "2.0");

  // Another file is another registry; the reset also voids every handle.
  std::filesystem::path other = m_folder / "other.db";
  setenv("VELT_REGISTRY", other.c_str(), 1);
  VeltRegistryReset();
  EXPECT_EQ(queryString(key, "Version"), "<error 6>");
  HKEY missing = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Norvex", 0, KEY_READ, &missing),
            ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(std::filesystem::exists(other));
}

TEST_F(RegistryStoreTest, WithoutTheVariableTheStoreLivesInTheXdgDataFolder) {
  unsetenv("VELT_REGISTRY");
  std::string saved = getenv("XDG_DATA_HOME") ? getenv("XDG_DATA_HOME") : "";
  std::filesystem::path data = m_folder / "data";
  setenv("XDG_DATA_HOME", data.c_str(), 1);
  VeltRegistryReset();
  HKEY key = create("Probe");
  RegCloseKey(key);
  EXPECT_TRUE(std::filesystem::exists(data / "norvexvelt" / "registry.db"));
  VeltRegistryReset();
  if (saved.empty()) {
    unsetenv("XDG_DATA_HOME");
  } else {
    setenv("XDG_DATA_HOME", saved.c_str(), 1);
  }
}

TEST_F(RegistryStoreTest, AnUnusableFileIsReportedNotCrashedOn) {
  std::filesystem::path folderAsFile = m_folder / "no-such-dir" / "x.db";
  setenv("VELT_REGISTRY", folderAsFile.c_str(), 1);
  VeltRegistryReset();
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "", 0, KEY_READ, &key), ERROR_CANTOPEN);
}

TEST_F(RegistryStoreTest, ProcessesWritingAtOnceLoseNothing) {
  constexpr int kProcesses = 4;
  constexpr int kWrites = 40;
  RegCloseKey(create("Shared"));  // the parent has the store open across the fork
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      int failures = 0;
      for (int i = 0; i < kWrites; ++i) {
        std::string name = "p" + std::to_string(p) + "_" + std::to_string(i);
        HKEY key = nullptr;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, ("Shared\\" + name).c_str(), 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
          ++failures;
          continue;
        }
        DWORD value = static_cast<DWORD>(i);
        failures += RegSetValueExA(key, "n", 0, REG_DWORD, reinterpret_cast<BYTE*>(&value),
                                   sizeof value) != ERROR_SUCCESS;
        RegCloseKey(key);
      }
      _exit(failures == 0 ? 0 : 1);
    }
    children.push_back(child);
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  HKEY shared = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Shared", 0, KEY_READ, &shared), ERROR_SUCCESS);
  for (int p = 0; p < kProcesses; ++p) {
    for (int i = 0; i < kWrites; ++i) {
      std::string name = "p" + std::to_string(p) + "_" + std::to_string(i);
      HKEY key = nullptr;
      ASSERT_EQ(RegOpenKeyExA(shared, name.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS) << name;
      DWORD value = 0;
      DWORD size = sizeof value;
      EXPECT_EQ(
          RegQueryValueExA(key, "n", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size),
          ERROR_SUCCESS);
      EXPECT_EQ(value, static_cast<DWORD>(i));
      RegCloseKey(key);
    }
  }
  RegCloseKey(shared);
  EXPECT_EQ(integrityOf(m_file), "ok");
}

TEST_F(RegistryStoreTest, ThreadsShareHandlesSafely) {
  HKEY shared = create("Threads");
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([shared, t] {
      for (int i = 0; i < 25; ++i) {
        std::string name = "t" + std::to_string(t) + "_" + std::to_string(i);
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(shared, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &key, nullptr),
                  ERROR_SUCCESS);
        setString(shared, name.c_str(), name);
        EXPECT_EQ(queryString(shared, name.c_str()), name);
        EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  DWORD count = 0;
  char name[32];
  for (DWORD size = sizeof name; RegEnumKeyExA(shared, count, name, &size, nullptr, nullptr,
                                               nullptr, nullptr) == ERROR_SUCCESS;
       size = sizeof name) {
    ++count;
  }
  EXPECT_EQ(count, 100u);
  RegCloseKey(shared);
}

}  // namespace
