#include <gtest/gtest.h>
#include <windows.h>

// The Windows ABI fixes these widths; an LP64 host would silently widen LONG and friends.
static_assert(sizeof(LONG) == 4 && sizeof(ULONG) == 4 && sizeof(DWORD) == 4);
static_assert(sizeof(HRESULT) == 4 && sizeof(WCHAR) == 2 && sizeof(GUID) == 16);

TEST(GuidTest, EqualityComparesAllSixteenBytes) {
  GUID a = IID_IUnknown;
  EXPECT_TRUE(IsEqualGUID(a, IID_IUnknown));
  a.Data4[7] ^= 1;
  EXPECT_FALSE(IsEqualGUID(a, IID_IUnknown));
  EXPECT_NE(IID_IUnknown, IID_IClassFactory);
}

TEST(HresultTest, SeverityDecidesSuccess) {
  EXPECT_TRUE(SUCCEEDED(S_FALSE));
  EXPECT_TRUE(FAILED(E_NOINTERFACE));
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), (HRESULT)0x80070002);
}
