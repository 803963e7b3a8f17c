#include <windows.h>

#include <string>
#include <vector>

#include "temp_registry.h"

namespace {

using RegistryKeysTest = TempRegistryTest;

std::vector<std::string> subkeys(HKEY key) {
  std::vector<std::string> names;
  for (DWORD index = 0;; ++index) {
    char name[256];
    DWORD size = sizeof name;
    LSTATUS status = RegEnumKeyExA(key, index, name, &size, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) break;
    EXPECT_EQ(status, ERROR_SUCCESS);
    if (status != ERROR_SUCCESS) break;
    EXPECT_EQ(size, std::string(name).size());
    names.emplace_back(name);
  }
  return names;
}

TEST_F(RegistryKeysTest, NamesMatchWithoutCaseAndKeepTheCaseFirstWritten) {
  HKEY tarvo = create("SOFTWARE\\Norvex\\TARVO", HKEY_LOCAL_MACHINE);
  RegCloseKey(tarvo);

  HKEY again = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "software\\NORVEX\\tarvo", 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &again, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  RegCloseKey(again);

  HKEY software = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_READ, &software), ERROR_SUCCESS);
  EXPECT_EQ(subkeys(software), std::vector<std::string>{"Norvex"});
  RegCloseKey(software);
  EXPECT_EQ(subkeys(HKEY_LOCAL_MACHINE), std::vector<std::string>{"SOFTWARE"});
}

TEST_F(RegistryKeysTest, CreateMakesEveryMissingLevelAndReportsIt) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "CLSID\\{G}\\LocalServer32", 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  RegCloseKey(key);

  HKEY middle = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID\\{G}", 0, KEY_READ, &middle), ERROR_SUCCESS);
  RegCloseKey(middle);
  // The class root is a tree of its own, not a view of another root.
  HKEY elsewhere = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "CLSID", 0, KEY_READ, &elsewhere),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(elsewhere, nullptr);
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

TEST_F(RegistryKeysTest, MalformedPathsAndHandlesAreRefused) {
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "a\\\\b", 0, KEY_READ, &key), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "\\a", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, std::string(256, 'k').c_str(), 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_INVALID_PARAMETER);

  HKEY closed = create("B");
  ASSERT_EQ(RegCloseKey(closed), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(closed), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegOpenKeyExA(closed, "", 0, KEY_READ, &key), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegSetValueExA(closed, "v", 0, REG_DWORD, nullptr, 0), ERROR_INVALID_HANDLE);
}

TEST_F(RegistryKeysTest, AHandleOnlyDoesWhatItWasOpenedFor) {
  RegCloseKey(create("Locked"));
  HKEY reader = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Locked", 0, KEY_QUERY_VALUE, &reader), ERROR_SUCCESS);
  DWORD one = 1;
  EXPECT_EQ(RegSetValueExA(reader, "v", 0, REG_DWORD, reinterpret_cast<BYTE*>(&one), sizeof one),
            ERROR_ACCESS_DENIED);
  HKEY child = nullptr;
  EXPECT_EQ(RegCreateKeyExA(reader, "new", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr),
            ERROR_ACCESS_DENIED);
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

  char small[4];
  DWORD size = sizeof small;  // "Alpha" needs six
  EXPECT_EQ(RegEnumKeyExA(parent, 0, small, &size, nullptr, nullptr, nullptr, nullptr),
            ERROR_MORE_DATA);
  size = 6;
  char exact[6];
  EXPECT_EQ(RegEnumKeyExA(parent, 0, exact, &size, nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(size, 5u);
  RegCloseKey(parent);
}

TEST_F(RegistryKeysTest, DeleteRefusesKeysWithSubkeysAndMissingKeys) {
  HKEY leaf = create("Tree\\Branch\\Leaf");
  RegCloseKey(leaf);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Tree"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Tree\\Nothing"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, ""), ERROR_ACCESS_DENIED);  // a root stays
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "tree\\branch\\LEAF"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Tree\\Branch\\Leaf"), ERROR_FILE_NOT_FOUND);

  // Values leave with their key: a key made anew under the same name starts empty.
  HKEY branch = create("Tree\\Branch");
  setString(branch, "", "old");
  RegCloseKey(branch);
  ASSERT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Tree\\Branch"), ERROR_SUCCESS);
  branch = create("Tree\\Branch");
  EXPECT_EQ(RegQueryValueExA(branch, nullptr, nullptr, nullptr, nullptr, nullptr),
            ERROR_FILE_NOT_FOUND);
  RegCloseKey(branch);
}

TEST_F(RegistryKeysTest, AHandleToADeletedKeyReportsKeyDeleted) {
  HKEY doomed = create("Doomed");
  setString(doomed, "v", "x");
  ASSERT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Doomed"), ERROR_SUCCESS);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(doomed, "v", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
  EXPECT_EQ(RegSetValueExA(doomed, "v", 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 1),
            ERROR_KEY_DELETED);
  HKEY child = nullptr;
  EXPECT_EQ(RegCreateKeyExA(doomed, "c", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr),
            ERROR_KEY_DELETED);
  // Re-creating the name makes a different key; the old handle stays dead.
  RegCloseKey(create("Doomed"));
  EXPECT_EQ(RegQueryValueExA(doomed, "v", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
  EXPECT_EQ(RegCloseKey(doomed), ERROR_SUCCESS);
}

}  // namespace
