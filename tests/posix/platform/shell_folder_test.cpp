#include <gtest/gtest.h>
#include <shlobj.h>
#include <stdlib.h>

#include <cstring>
#include <string>
#include <utility>

namespace {

// Each case runs in a process of its own, so the environment it leaves behind is nobody's.
void setOrClear(const char* name, const char* value) {
  if (value != nullptr) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
}

std::string appData(HRESULT expected = S_OK) {
  char path[MAX_PATH + 8];
  std::memset(path, '#', sizeof path);
  EXPECT_EQ(SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path), expected);
  EXPECT_EQ(path[MAX_PATH], '#');  // never written past the MAX_PATH buffer
  return path;
}

TEST(ShellFolderTest, AppDataIsTheXdgDataFolder) {
  setenv("HOME", "/home/velt", 1);
  const std::pair<const char*, const char*> cases[] = {
      {"/srv/data", "/srv/data"},
      {nullptr, "/home/velt/.local/share"},
      {"relative/data", "/home/velt/.local/share"}};  // XDG ignores a relative data folder
  for (const auto& [xdg, expected] : cases) {
    setOrClear("XDG_DATA_HOME", xdg);
    EXPECT_EQ(appData(), expected);
  }
}

TEST(ShellFolderTest, LongPathsUnknownFoldersAndMissingBuffersFail) {
  std::string longPath = "/" + std::string(MAX_PATH, 'x');
  setenv("XDG_DATA_HOME", longPath.c_str(), 1);
  EXPECT_EQ(appData(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER)), "") << "no overrun either";
  char path[MAX_PATH];
  EXPECT_EQ(SHGetFolderPathA(nullptr, 0x0005 /* documents */, nullptr, 0, path), E_INVALIDARG);
  EXPECT_EQ(SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, 0, nullptr), E_INVALIDARG);
}

}  // namespace
