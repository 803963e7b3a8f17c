// The shared owners: each resource is given back exactly once, whatever way it leaves.
#include <owners/clsid_text.h>
#include <owners/com_ptr.h>
#include <owners/owned_variant.h>
#include <owners/unique_handle.h>
#include <owners/utf_text.h>

#include <gtest/gtest.h>

#include <vector>

#include "test_com_objects.h"

namespace {

std::vector<int> closed;
void recordClose(int* handle) { closed.push_back(*handle); }
using Recorded = velt::UniqueHandle<int*, &recordClose>;

class UniqueHandleTest : public ::testing::Test {
 protected:
  void SetUp() override { closed.clear(); }
  int first = 1;
  int second = 2;
};

TEST_F(UniqueHandleTest, GivesBackOnceWhicheverWayItLeaves) {
  {
    Recorded empty;
    EXPECT_FALSE(empty);
  }
  EXPECT_TRUE(closed.empty()) << "nothing held, nothing given back";
  {
    Recorded owner(&first);
    Recorded moved(std::move(owner));
    EXPECT_FALSE(owner);
    EXPECT_EQ(moved.get(), &first);
  }
  EXPECT_EQ(closed, std::vector<int>{1});

  closed.clear();
  Recorded target(&first);
  Recorded source(&second);
  target = std::move(source);
  EXPECT_EQ(closed, std::vector<int>{1}) << "assignment gives back what was held";
  *target.put() = &first;
  EXPECT_EQ(closed, (std::vector<int>{1, 2})) << "an out-parameter starts empty";
  int* kept = target.release();
  target.reset();
  EXPECT_EQ(kept, &first);
  EXPECT_EQ(closed.size(), 2u) << "a released value is the caller's";
}

TEST(ComPtrTest, HoldsExactlyTheReferencesItTook) {
  const int before = liveTestObjects;
  {
    velt::ComPtr<IUnknown> adopted(new TestObject);
    EXPECT_EQ(liveTestObjects, before + 1);
    velt::ComPtr<IUnknown> copy = adopted;
    velt::ComPtr<IUnknown> shared = velt::ComPtr<IUnknown>::share(adopted.get());
    adopted.reset();
    copy = velt::ComPtr<IUnknown>();
    EXPECT_EQ(liveTestObjects, before + 1) << "the shared reference keeps it";
    velt::ComPtr<IUnknown> moved(std::move(shared));
    IUnknown* handedOn = moved.detach();
    EXPECT_EQ(handedOn->Release(), 0u);
  }
  EXPECT_EQ(liveTestObjects, before);
}

TEST(OwnedVariantTest, CopiesDeepAndMovesEmpty) {
  velt::OwnedVariant text;
  text.get()->vt = VT_BSTR;
  text.get()->bstrVal = SysAllocString(OLESTR("value"));
  velt::OwnedVariant copy = text;
  ASSERT_EQ(copy.vt(), VT_BSTR);
  EXPECT_NE(copy.value().bstrVal, text.value().bstrVal);
  velt::OwnedVariant moved(std::move(text));
  EXPECT_EQ(text.vt(), VT_EMPTY);
  EXPECT_TRUE(text.isNull());
  VARIANT handed = moved.release();
  EXPECT_EQ(moved.vt(), VT_EMPTY);
  EXPECT_EQ(VariantClear(&handed), S_OK);
  EXPECT_EQ(copy.clear(), S_OK);
  EXPECT_EQ(copy.vt(), VT_EMPTY);
}

TEST(UtfTextTest, RoundTripsEveryPlane) {
  const std::string utf8 = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";  // a, e-acute, euro, emoji
  const std::u16string wide = velt::utf16FromUtf8(utf8);
  EXPECT_EQ(wide, (std::u16string{u'a', 0x00E9, 0x20AC, 0xD83D, 0xDE00}));
  EXPECT_EQ(velt::utf8FromUtf16(wide), utf8);
  EXPECT_EQ(velt::utf8FromUtf16(static_cast<const OLECHAR*>(nullptr)), "");
  EXPECT_EQ(velt::utf16FromUtf8("a\x80z"), (std::u16string{u'a', 0xFFFD, u'z'}))
      << "a byte that is no UTF-8 is replaced, not dropped";
  velt::UniqueBstr bstr = velt::bstrFromUtf8(utf8);
  ASSERT_TRUE(bstr);
  EXPECT_EQ(SysStringLen(bstr.get()), wide.size());
}

TEST(ClsidTextTest, ReadsOnlyTheBracedFormItWrites) {
  const CLSID id = {0x3f2a1b4c, 0x5d6e, 0x4f70, {0x81, 0x92, 0xa3, 0xb4, 0xc5, 0xd6, 0xe7, 0xf8}};
  const std::string text = velt::clsidText(id);
  EXPECT_EQ(text, "{3F2A1B4C-5D6E-4F70-8192-A3B4C5D6E7F8}");
  auto parsed = velt::clsidFromText("{3f2a1b4c-5d6e-4f70-8192-a3b4c5d6e7f8}");
  ASSERT_TRUE(parsed);
  EXPECT_TRUE(IsEqualCLSID(*parsed, id));
  for (const char* bad :
       {"", "3F2A1B4C-5D6E-4F70-8192-A3B4C5D6E7F8", "{3F2A1B4C-5D6E-4F70-8192-A3B4C5D6E7FG}",
        "{3F2A1B4C+5D6E-4F70-8192-A3B4C5D6E7F8}", "Some.ProgId"}) {
    EXPECT_FALSE(velt::clsidFromText(bad)) << bad;
  }
}

}  // namespace
