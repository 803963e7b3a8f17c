#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "temp_registry.h"

namespace {

using RegistryValuesTest = TempRegistryTest;

struct Read {
  LSTATUS status;
  DWORD type;
  std::string bytes;
};

Read readValue(HKEY key, const char* name) {
  DWORD size = 0;
  DWORD type = 0;
  LSTATUS status = RegQueryValueExA(key, name, nullptr, &type, nullptr, &size);
  if (status != ERROR_SUCCESS) return {status, 0, {}};
  std::string bytes(size, '\0');
  status =
      RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(bytes.data()), &size);
  bytes.resize(size);
  return {status, type, bytes};
}

TEST_F(RegistryValuesTest, TypesAndExactBytesRoundTrip) {
  HKEY key = create("Types");
  using std::string;
  const struct Case {
    const char* name;
    DWORD type;
    string bytes;
  } cases[] = {{"Install Path", REG_SZ, string("C:\\Program Files\\Norvex\\", 25)},
               {"Multi", REG_MULTI_SZ, string("one\0two\0\0", 9)},
               {"Binary", REG_BINARY, string("\x00\x01\xff\x00", 4)},
               {"Count", REG_DWORD, string("\x2a\0\0\0", 4)},
               {"Big", REG_QWORD, string("\1\2\3\4\5\6\7\x08", 8)},
               {"Raw", REG_SZ, "abc"},  // no terminating zero
               {"Nothing", REG_NONE, ""},
               {"Odd", 0x1234, string("\x00\x01", 2)}};
  for (const Case& c : cases) {
    ASSERT_EQ(RegSetValueExA(key, c.name, 0, c.type, reinterpret_cast<const BYTE*>(c.bytes.data()),
                             static_cast<DWORD>(c.bytes.size())),
              ERROR_SUCCESS);
  }
  for (const Case& c : cases) {
    Read got = readValue(key, c.name);
    EXPECT_EQ(got.status, ERROR_SUCCESS) << c.name;
    EXPECT_EQ(got.type, c.type) << c.name;
    EXPECT_EQ(got.bytes, c.bytes) << c.name;
  }
  // Overwriting may change the type and shrink the data.
  ASSERT_EQ(RegSetValueExA(key, "count", 0, REG_BINARY, reinterpret_cast<const BYTE*>("z"), 1),
            ERROR_SUCCESS);
  Read changed = readValue(key, "COUNT");
  EXPECT_EQ(changed.type, REG_BINARY);
  EXPECT_EQ(changed.bytes, "z");
  EXPECT_EQ(RegSetValueExA(key, "bad", 0, REG_BINARY, nullptr, 4), ERROR_INVALID_PARAMETER);
  RegCloseKey(key);
}

TEST_F(RegistryValuesTest, DefaultValueHasTheEmptyNameAndNamesIgnoreCaseAndEnumerateInOrder) {
  HKEY key = create("Names");
  setString(key, nullptr, "by null");
  EXPECT_EQ(queryString(key, ""), "by null");
  setString(key, "", "by empty");
  EXPECT_EQ(queryString(key, nullptr), "by empty");
  setString(key, "Install Path", "first");
  setString(key, "INSTALL PATH", "second");
  EXPECT_EQ(queryString(key, "install path"), "second");
  DWORD number = 7;
  ASSERT_EQ(RegSetValueExA(key, "a", 0, REG_DWORD, reinterpret_cast<BYTE*>(&number), sizeof number),
            ERROR_SUCCESS);

  std::vector<std::string> names;
  std::vector<DWORD> types, sizes;
  for (DWORD index = 0;; ++index) {
    char name[16];
    DWORD nameSize = sizeof name, type = 0, dataSize = 0;
    LSTATUS status = RegEnumValueA(key, index, name, &nameSize, nullptr, &type, nullptr, &dataSize);
    if (status == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(status, ERROR_SUCCESS);
    names.emplace_back(name);
    types.push_back(type);
    sizes.push_back(dataSize);
  }
  // Names keep the case first written; the default value comes first.
  EXPECT_EQ(names, (std::vector<std::string>{"", "a", "Install Path"}));
  EXPECT_EQ(types, (std::vector<DWORD>{REG_SZ, REG_DWORD, REG_SZ}));
  EXPECT_EQ(sizes, (std::vector<DWORD>{9, 4, 7}));

  EXPECT_EQ(RegDeleteValueA(key, "INSTALL path"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(key, "Install Path"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(readValue(key, "Install Path").status, ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);
}

TEST_F(RegistryValuesTest, AShortBufferGetsMoreDataAndTheNeededSizeWithoutOverrun) {
  HKEY key = create("Sizes");
  setString(key, "Version", "5.1.2600");  // nine bytes
  char buffer[16];
  std::memset(buffer, '#', sizeof buffer);
  DWORD size = 4;
  DWORD type = 0;
  EXPECT_EQ(
      RegQueryValueExA(key, "Version", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size),
      ERROR_MORE_DATA);
  EXPECT_EQ(size, 9u);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(buffer[4], '#');

  size = 9;
  EXPECT_EQ(
      RegQueryValueExA(key, "Version", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size),
      ERROR_SUCCESS);
  EXPECT_STREQ(buffer, "5.1.2600");
  EXPECT_EQ(
      RegQueryValueExA(key, "Version", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), nullptr),
      ERROR_INVALID_PARAMETER);
  // Asking for the type alone is allowed.
  EXPECT_EQ(RegQueryValueExA(key, "Version", nullptr, &type, nullptr, nullptr), ERROR_SUCCESS);

  char name[8];
  DWORD nameSize = sizeof name;
  DWORD dataSize = 2;
  EXPECT_EQ(RegEnumValueA(key, 0, name, &nameSize, nullptr, nullptr,
                          reinterpret_cast<BYTE*>(buffer), &dataSize),
            ERROR_MORE_DATA);
  EXPECT_EQ(dataSize, 9u);
  nameSize = 7;  // "Version" needs eight with its zero
  dataSize = sizeof buffer;
  EXPECT_EQ(RegEnumValueA(key, 0, name, &nameSize, nullptr, nullptr,
                          reinterpret_cast<BYTE*>(buffer), &dataSize),
            ERROR_MORE_DATA);
  RegCloseKey(key);
}

}  // namespace
