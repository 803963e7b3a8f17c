#include <gtest/gtest.h>
#include <windows.h>
#include <winplatform/posix_hooks.h>

#include <string>
#include <vector>

namespace {

std::string systemText(DWORD code) {
  LPSTR text = nullptr;
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                                nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                reinterpret_cast<LPSTR>(&text), 0, nullptr);
  if (length == 0) return "<none>";
  std::string result(text, length);
  EXPECT_EQ(LocalFree(text), nullptr);
  return result;
}

TEST(FormatMessageTest, KnownCodesGiveSystemTextWithLineEndOthersFail) {
  EXPECT_EQ(systemText(ERROR_FILE_NOT_FOUND), "The system cannot find the file specified.\r\n");
  EXPECT_EQ(systemText(static_cast<DWORD>(REGDB_E_CLASSNOTREG)), "Class not registered\r\n");
  EXPECT_EQ(systemText(static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND))),
            "The specified module could not be found.\r\n");
  EXPECT_EQ(systemText(0x80041008u), "<none>");  // a WMI status
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND));
  char small[8];
  EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_FILE_NOT_FOUND, 0, small,
                           sizeof small, nullptr),
            0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST(WideToMultiTest, SizesFollowWindowsConventions) {
  const WCHAR text[] = u"h\u00e9\u20ac";  // 1 + 2 + 3 bytes in UTF-8
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr), 7);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, 3, nullptr, 0, nullptr, nullptr), 6);
  char out[7];
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, -1, out, 6, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, text, -1, out, 7, nullptr, nullptr), 7);
  EXPECT_STREQ(out, "h\xC3\xA9\xE2\x82\xAC");
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, 0, out, 7, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

// A pair, and a round trip through both directions, are checked with the owners' UTF text.
TEST(WideToMultiTest, LoneSurrogatesBecomeReplacementOrFail) {
  char out[16];
  const WCHAR lone[] = {u'a', 0xDC00, 0xD800, 0};
  ASSERT_EQ(WideCharToMultiByte(CP_UTF8, 0, lone, -1, out, sizeof out, nullptr, nullptr), 8);
  EXPECT_STREQ(out, "a\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, lone, -1, out, sizeof out, nullptr,
                                nullptr),
            0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
}

TEST(MultiToWideTest, ReplacesMalformedBytes) {
  WCHAR wide[8];
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0,
                                "a\xFF"
                                "b\xC3",
                                4, wide, 8),
            4);
  EXPECT_EQ(std::u16string(wide, 4), u"a\uFFFDb\uFFFD");
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xC0\xAF", 2, nullptr, 0), 2) << "overlong form";
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, wide, 3), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST(CaseInsensitiveCompareTest, FoldsAsciiOnly) {
  EXPECT_EQ(_stricmp("RegServer", "REGSERVER"), 0);
  EXPECT_LT(_stricmp("abc", "ABD"), 0);
  EXPECT_GT(_stricmp("Embedding ", "embedding"), 0);
  EXPECT_NE(_stricmp("\xC3\xA9", "\xC3\x89"), 0) << "no folding outside ASCII";
}

TEST(DebugOutputTest, HookSeesEveryText) {
  std::vector<std::string> seen;
  VeltSetDebugOutputHook(
      [](const char* text, void* context) {
        static_cast<std::vector<std::string>*>(context)->push_back(text);
      },
      &seen);
  OutputDebugStringA("Entering Initialize\n");
  OutputDebugStringA(nullptr);
  VeltSetDebugOutputHook(nullptr, nullptr);
  OutputDebugStringA("not seen\n");
  EXPECT_EQ(seen, std::vector<std::string>{"Entering Initialize\n"});
}

}  // namespace
