#include <gmock/gmock.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "temp_registry.h"

namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using RegistryStoreTest = TempRegistryTest;

std::string lastFailure() {
  char text[1024];
  VeltRegistryLastFailure(text, sizeof text);
  return text;
}

// Runs `body` in a child process that, when this one is root, first becomes "nobody", so that
// file permissions hold for it; answers what the body answered.
template <class Body>
std::string asUnprivilegedUser(Body body) {
  int channel[2];
  if (pipe(channel) != 0) return "<no pipe>";
  pid_t child = fork();
  if (child == 0) {
    close(channel[0]);
    std::string answer = "<could not drop privileges>";
    if (geteuid() != 0 || (setgid(65534) == 0 && setuid(65534) == 0)) answer = body();
    [[maybe_unused]] ssize_t written = write(channel[1], answer.data(), answer.size());
    _exit(0);
  }
  close(channel[1]);
  std::string answer;
  char buffer[256];
  for (ssize_t got; (got = read(channel[0], buffer, sizeof buffer)) > 0;)
    answer.append(buffer, got);
  close(channel[0]);
  waitpid(child, nullptr, 0);
  return answer;
}

std::string integrityOf(const std::filesystem::path& file) {
  sqlite3* db = nullptr;
  std::string answer = "cannot open";
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_exec(
        db, "PRAGMA quick_check",
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
  // Reading a registry that does not exist yet leaves the disk as it was.
  EXPECT_FALSE(std::filesystem::exists(other));
}

// Each case runs in a process of its own: the data folder it sets is nobody else's.
TEST_F(RegistryStoreTest, WithoutTheVariableTheStoreLivesInTheXdgDataFolder) {
  unsetenv("VELT_REGISTRY");
  std::filesystem::path data = m_folder / "data";
  setenv("XDG_DATA_HOME", data.c_str(), 1);
  VeltRegistryReset();
  RegCloseKey(create("Probe"));
  EXPECT_TRUE(std::filesystem::exists(data / "norvexvelt" / "registry.db"));
}

TEST_F(RegistryStoreTest, AnUnusableFileIsReportedWithTheFileAndTheSystemsReason) {
  std::filesystem::create_directory(m_folder / "folder");
  std::ofstream(m_folder / "garbage.db") << std::string(4096, 'g');
  const struct Case {
    const char* file;
    LSTATUS read;  // opening a subkey to read
    LSTATUS write;
    const char* why;
  } cases[] = {{"no-such-dir/x.db", ERROR_FILE_NOT_FOUND, ERROR_CANTOPEN, "No such file"},
               {"folder", ERROR_CANTREAD, ERROR_CANTOPEN, "Is a directory"},
               {"garbage.db", ERROR_BADDB, ERROR_BADDB, "file is not a database"}};
  for (const Case& c : cases) {
    std::string file = (m_folder / c.file).string();
    setenv("VELT_REGISTRY", file.c_str(), 1);
    VeltRegistryReset();
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &key), c.read) << c.file;
    // A registry that is not there yet reads as empty; that is no failure of the store.
    EXPECT_THAT(lastFailure(), HasSubstr(c.read == ERROR_FILE_NOT_FOUND ? "" : c.why));
    EXPECT_EQ(tryCreate(HKEY_CURRENT_USER, "Software", &key), c.write) << c.file;
    EXPECT_EQ(key, nullptr);
    EXPECT_THAT(lastFailure(), AllOf(HasSubstr(file), HasSubstr(c.why))) << lastFailure();
  }
  EXPECT_FALSE(std::filesystem::exists(m_folder / "no-such-dir"));
}

TEST_F(RegistryStoreTest, AReadOnlyFileCanBeReadButNotWritten) {
  HKEY key = create("SOFTWARE\\Norvex", HKEY_LOCAL_MACHINE);
  setString(key, "Version", "2.0");
  RegCloseKey(key);
  VeltRegistryReset();
  std::filesystem::permissions(m_file, std::filesystem::perms::owner_read |
                                           std::filesystem::perms::group_read |
                                           std::filesystem::perms::others_read);
  // The folder stays writable, as a user's own folder is.
  std::filesystem::permissions(m_folder, std::filesystem::perms::all);
  std::string seen = asUnprivilegedUser([] {
    HKEY opened = nullptr;
    LSTATUS open = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Norvex", 0, KEY_READ, &opened);
    std::string version = queryString(opened, "Version");
    LSTATUS set =
        RegSetValueExA(opened, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>("3.0"), 4);
    return std::to_string(open) + " " + version + " " + std::to_string(set) + " " + lastFailure();
  });
  EXPECT_EQ(seen,
            "0 2.0 1013 cannot write the registry file " + m_file.string() + ": Permission denied");
}

// Processes writing at once lose nothing, also while the file does not exist yet: those that
// do not create it wait for the one that does rather than failing on its lock. In the first
// round this process has the store open across the fork.
TEST_F(RegistryStoreTest, ProcessesWritingAtOnceLoseNothingAlsoWhileOneCreatesTheFile) {
  constexpr int kRounds = 5, kProcesses = 8, kWrites = 10;
  auto name = [](int p, int i) {
    return "Shared\\p" + std::to_string(p) + "_" + std::to_string(i);
  };
  RegCloseKey(create("Shared"));
  for (int round = 0; round < kRounds; ++round) {
    if (round > 0) {
      VeltRegistryReset();
      for (const char* part : {"", "-wal", "-shm"}) std::filesystem::remove(m_file.string() + part);
    }
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
      pid_t child = fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        int failures = 0;
        for (DWORD i = 0; i < kWrites; ++i) {
          HKEY key = nullptr;
          LSTATUS status = tryCreate(HKEY_CURRENT_USER, name(p, i).c_str(), &key);
          if (status == ERROR_SUCCESS) {
            status = RegSetValueExA(key, "n", 0, REG_DWORD, reinterpret_cast<BYTE*>(&i), sizeof i);
            RegCloseKey(key);
          }
          if (status != ERROR_SUCCESS) fprintf(stderr, "%s\n", lastFailure().c_str());
          failures += status != ERROR_SUCCESS;
        }
        _exit(failures == 0 ? 0 : 1);
      }
      children.push_back(child);
    }
    for (pid_t child : children) {
      int status = 0;
      ASSERT_EQ(waitpid(child, &status, 0), child);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "round " << round;
    }
    for (int p = 0; p < kProcesses; ++p) {
      for (DWORD i = 0; i < kWrites; ++i) {
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, name(p, i).c_str(), 0, KEY_READ, &key),
                  ERROR_SUCCESS);
        DWORD value = 0, size = sizeof value;
        EXPECT_EQ(
            RegQueryValueExA(key, "n", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size),
            ERROR_SUCCESS);
        EXPECT_EQ(value, i) << name(p, i);
        RegCloseKey(key);
      }
    }
    EXPECT_EQ(integrityOf(m_file), "ok");
  }
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
  EXPECT_EQ(subkeys(shared).size(), 100u);
  RegCloseKey(shared);
}

}  // namespace
