#include <sys/wait.h>
#include <unistd.h>
#include <windows.h>

#include <string>
#include <vector>

#include "temp_registry.h"

namespace {

using RegistryKeysTest = TempRegistryTest;

TEST_F(RegistryKeysTest, CreateMakesMissingLevelsAndNamesMatchWithoutCase) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(tryCreate(HKEY_LOCAL_MACHINE, "SOFTWARE\\Norvex\\TARVO", &key, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  RegCloseKey(key);
  ASSERT_EQ(tryCreate(HKEY_LOCAL_MACHINE, "software\\NORVEX\\tarvo", &key, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  RegCloseKey(key);

  // Every level exists, under the case it was first written with.
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_READ, &key), ERROR_SUCCESS);
  EXPECT_EQ(subkeys(key), std::vector<std::string>{"Norvex"});
  RegCloseKey(key);
  EXPECT_EQ(subkeys(HKEY_LOCAL_MACHINE), std::vector<std::string>{"SOFTWARE"});
  // Each root is a tree of its own, not a view of another root.
  EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "SOFTWARE", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(key, nullptr);
}

TEST_F(RegistryKeysTest, OpenWithoutSubkeyGivesANewHandleToTheSameKey) {
  HKEY key = create("A");
  setString(key, "v", "x");
  for (const char* self : {static_cast<const char*>(nullptr), ""}) {
    HKEY same = nullptr;
    ASSERT_EQ(RegOpenKeyExA(key, self, 0, KEY_READ, &same), ERROR_SUCCESS);
    EXPECT_NE(same, key);
    EXPECT_EQ(queryString(same, "v"), "x");
    EXPECT_EQ(RegCloseKey(same), ERROR_SUCCESS);
  }
  RegCloseKey(key);
}

TEST_F(RegistryKeysTest, MalformedPathsClosedHandlesAndMissingRightsAreRefused) {
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "a\\\\b", 0, KEY_READ, &key), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(tryCreate(HKEY_CURRENT_USER, "\\a", &key), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(tryCreate(HKEY_CURRENT_USER, std::string(256, 'k').c_str(), &key),
            ERROR_INVALID_PARAMETER);

  HKEY closed = create("B");
  ASSERT_EQ(RegCloseKey(closed), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(closed), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegOpenKeyExA(closed, "", 0, KEY_READ, &key), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegSetValueExA(closed, "v", 0, REG_DWORD, nullptr, 0), ERROR_INVALID_HANDLE);

  // A handle only does what it was opened for.
  HKEY reader = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "B", 0, KEY_QUERY_VALUE, &reader), ERROR_SUCCESS);
  DWORD one = 1;
  EXPECT_EQ(RegSetValueExA(reader, "v", 0, REG_DWORD, reinterpret_cast<BYTE*>(&one), sizeof one),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(tryCreate(reader, "new", &key), ERROR_ACCESS_DENIED);
  char name[16];
  DWORD size = sizeof name;
  EXPECT_EQ(RegEnumKeyExA(reader, 0, name, &size, nullptr, nullptr, nullptr, nullptr),
            ERROR_ACCESS_DENIED);
  RegCloseKey(reader);
}

TEST_F(RegistryKeysTest, SubkeysEnumerateInNameOrderRegardlessOfCase) {
  HKEY parent = create("Order");
  for (const char* name : {"beta", "Alpha", "gamma", "DELTA"}) RegCloseKey(create(name, parent));
  EXPECT_EQ(subkeys(parent), (std::vector<std::string>{"Alpha", "beta", "DELTA", "gamma"}));

  char name[6];
  DWORD size = 5;  // "Alpha" needs six
  EXPECT_EQ(RegEnumKeyExA(parent, 0, name, &size, nullptr, nullptr, nullptr, nullptr),
            ERROR_MORE_DATA);
  size = 6;
  EXPECT_EQ(RegEnumKeyExA(parent, 0, name, &size, nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(size, 5u);
  RegCloseKey(parent);
}

TEST_F(RegistryKeysTest, DeleteRefusesKeysWithSubkeysAndMissingKeys) {
  RegCloseKey(create("Tree\\Branch\\Leaf"));
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Tree"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Tree\\Nothing"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, ""), ERROR_ACCESS_DENIED);  // a root stays
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "tree\\branch\\LEAF"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Tree\\Branch\\Leaf"), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryKeysTest, AHandleToADeletedKeyReportsKeyDeletedAndItsValuesGoWithIt) {
  HKEY doomed = create("Doomed");
  setString(doomed, "v", "x");
  ASSERT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Doomed"), ERROR_SUCCESS);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(doomed, "v", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
  EXPECT_EQ(RegSetValueExA(doomed, "v", 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 1),
            ERROR_KEY_DELETED);
  HKEY child = nullptr;
  EXPECT_EQ(tryCreate(doomed, "c", &child), ERROR_KEY_DELETED);
  // Re-creating the name makes a different, empty key; the old handle stays dead.
  HKEY reborn = create("Doomed");
  EXPECT_EQ(RegQueryValueExA(reborn, "v", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegQueryValueExA(doomed, "v", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
  EXPECT_EQ(RegCloseKey(doomed), ERROR_SUCCESS);
  RegCloseKey(reborn);
}

TEST_F(RegistryKeysTest, NamesIgnoreCaseBeyondAsciiAndCountCharactersNotBytes) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  RegCloseKey(create("Ünï\\Ωmega"));
  ASSERT_EQ(tryCreate(HKEY_CURRENT_USER, "ünÏ\\ωMEGA", &key, &disposition), ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  setString(key, "Grüße", "1");
  setString(key, "GRÜSSE", "2");  // no simple case mapping makes ß two letters
  setString(key, "grÜße", "3");
  EXPECT_EQ(queryString(key, "GRÜßE"), "3");
  RegCloseKey(key);
  EXPECT_EQ(subkeys(HKEY_CURRENT_USER), std::vector<std::string>{"Ünï"});

  // 255 characters, whatever their bytes; a character beyond the basic plane counts two.
  std::string umlauts;
  for (int i = 0; i < 255; ++i) umlauts += "ü";
  RegCloseKey(create(umlauts.c_str()));
  EXPECT_EQ(tryCreate(HKEY_CURRENT_USER, (umlauts + "ü").c_str(), &key), ERROR_INVALID_PARAMETER);
  std::string clefs;
  for (int i = 0; i < 127; ++i) clefs += "\U0001D11E";
  RegCloseKey(create(clefs.c_str()));
  EXPECT_EQ(tryCreate(HKEY_CURRENT_USER, (clefs + "\U0001D11E").c_str(), &key),
            ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryKeysTest, EnumerationByIndexIsLinearAndSeesEveryChange) {
  constexpr DWORD kCount = 300;
  HKEY parent = create("Many");
  for (DWORD i = 0; i < kCount; ++i) {
    std::string name = "k" + std::to_string(1000 + i);
    RegCloseKey(create(name.c_str(), parent));
    setString(parent, name.c_str(), "v");
  }
  unsigned long long before = VeltRegistryStatementSteps();
  EXPECT_EQ(subkeys(parent).size(), kCount);
  char name[32];
  DWORD index = 0;
  for (DWORD size = sizeof name; RegEnumValueA(parent, index, name, &size, nullptr, nullptr,
                                               nullptr, nullptr) == ERROR_SUCCESS;
       size = sizeof name) {
    ++index;
  }
  EXPECT_EQ(index, kCount);
  // A bounded amount of work per item; a query that skips to the index each time does work
  // in proportion to the index.
  EXPECT_LT(VeltRegistryStatementSteps() - before, 60ull * 2 * kCount);

  // Index-based as on Windows: a change made meanwhile, through another handle or by another
  // process, shows at the next call.
  EXPECT_EQ(subkeyAt(parent, 0), "k1000");
  ASSERT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Many\\k1000"), ERROR_SUCCESS);
  EXPECT_EQ(subkeyAt(parent, 0), "k1001");
  pid_t child = fork();
  if (child == 0) {
    HKEY added = nullptr;
    _exit(tryCreate(HKEY_CURRENT_USER, "Many\\a", &added) == ERROR_SUCCESS ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(subkeyAt(parent, 0), "a");
  RegCloseKey(parent);
}

}  // namespace
