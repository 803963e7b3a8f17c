#include <gtest/gtest.h>

#include <cstring>

#include "oleaut_support.h"

// The Windows ABI fixes these widths; an LP64 host would silently widen LONG and friends.
static_assert(sizeof(LONG) == 4 && sizeof(ULONG) == 4 && sizeof(DWORD) == 4);
static_assert(sizeof(HRESULT) == 4 && sizeof(WCHAR) == 2 && sizeof(GUID) == 16);

TEST(BstrTest, LengthPrefixCountsBytesAndKeepsEmbeddedNuls) {
  const OLECHAR text[] = {u'a', 0, u'b', 0, u'c'};
  UniqueBstr bstr(SysAllocStringLen(text, 5));
  ASSERT_TRUE(bstr);
  EXPECT_EQ(SysStringLen(bstr.get()), 5u);
  EXPECT_EQ(SysStringByteLen(bstr.get()), 10u);
  DWORD prefix = 0;
  std::memcpy(&prefix, reinterpret_cast<const char*>(bstr.get()) - 4, 4);
  EXPECT_EQ(prefix, 10u);
  EXPECT_EQ(storedText(bstr.get()), OleText(text, 5));
  EXPECT_EQ(bstr.get()[5], 0) << "always zero-terminated";
}

TEST(BstrTest, SysAllocStringStopsAtFirstNulAndNullGivesNull) {
  UniqueBstr bstr(SysAllocString(OLESTR("ab\0cd")));
  EXPECT_EQ(storedText(bstr.get()), OLESTR("ab"));
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  SysFreeString(nullptr);
  UniqueBstr empty(SysAllocString(OLESTR("")));
  ASSERT_TRUE(empty);
  EXPECT_EQ(SysStringLen(empty.get()), 0u);
}

TEST(BstrTest, NoTextGivesZerosAndAnOddByteLengthIsKeptBothTerminated) {
  UniqueBstr zeroed(SysAllocStringLen(nullptr, 3));
  ASSERT_TRUE(zeroed);
  EXPECT_EQ(storedText(zeroed.get()), OleText(3, u'\0'));
  EXPECT_EQ(zeroed.get()[3], 0);
  UniqueBstr odd(SysAllocStringByteLen("abc", 3));
  ASSERT_TRUE(odd);
  EXPECT_EQ(SysStringByteLen(odd.get()), 3u);
  EXPECT_EQ(SysStringLen(odd.get()), 1u);
  EXPECT_EQ(std::memcmp(odd.get(), "abc\0\0", 5), 0);
}

TEST(BstrTest, LengthsBeyondThePrefixRangeFailInsteadOfWrapping) {
  EXPECT_EQ(SysAllocStringLen(nullptr, 0x80000000u), nullptr);
  EXPECT_EQ(SysAllocStringLen(nullptr, 0xFFFFFFFFu), nullptr);
  EXPECT_EQ(SysAllocStringByteLen(nullptr, 0xFFFFFFFFu), nullptr);
}
