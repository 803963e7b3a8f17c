#include <gtest/gtest.h>
#include <objbase.h>
#include <windows.h>
#include <winplatform/posix_hooks.h>

#include <thread>

#include "test_com_objects.h"

namespace {

TEST(ApartmentTest, JoinRejoinModeMismatchAndSecurityOnce) {
  std::thread([] {  // a fresh thread: no apartment state leaks between cases
    VeltResetComSecurityForTesting();
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);
    auto secure = [] {
      return CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_CONNECT,
                                  RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
    };
    EXPECT_EQ(secure(), S_OK);
    EXPECT_EQ(secure(), RPC_E_TOO_LATE);
    CoUninitialize();
    CoUninitialize();
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK) << "fully left: a new mode";
    CoUninitialize();
  })
      .join();
}

TEST(ClassTableTest, RegisterCreateRevokeBalanceReferences) {
  std::thread([] {  // a fresh thread: no apartment state leaks between cases
    TestFactory factory;
    DWORD first = 1, second = 0;
    EXPECT_EQ(CoRegisterClassObject(CLSID_TestClass, &factory, CLSCTX_LOCAL_SERVER,
                                    REGCLS_MULTIPLEUSE, &first),
              CO_E_NOTINITIALIZED);
    EXPECT_EQ(first, 0u);
    EXPECT_EQ(factory.refs, 1u);
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    ASSERT_EQ(CoRegisterClassObject(CLSID_TestClass, &factory, CLSCTX_LOCAL_SERVER,
                                    REGCLS_MULTIPLEUSE, &first),
              S_OK);
    ASSERT_EQ(CoRegisterClassObject(CLSID_TestClass, &factory, CLSCTX_LOCAL_SERVER,
                                    REGCLS_MULTIPLEUSE, &second),
              S_OK);
    EXPECT_NE(first, 0u);
    EXPECT_NE(first, second);
    EXPECT_EQ(factory.refs, 3u) << "each registration holds a reference";

    IUnknown* object = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_TestClass, nullptr, CLSCTX_ALL, IID_IUnknown,
                               reinterpret_cast<void**>(&object)),
              S_OK);
    EXPECT_EQ(liveTestObjects, 1);
    EXPECT_EQ(factory.refs, 3u) << "the factory reference taken for creation is given back";
    object->Release();
    EXPECT_EQ(liveTestObjects, 0);

    void* out = &factory;
    EXPECT_EQ(CoCreateInstance(CLSID_TestClass, nullptr, CLSCTX_ALL, IID_IClassFactory, &out),
              E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(CoGetClassObject(CLSID_OtherTestClass, CLSCTX_INPROC_SERVER, nullptr,
                               IID_IClassFactory, &out),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(
        CoGetClassObject(CLSID_TestClass, CLSCTX_LOCAL_SERVER, nullptr, IID_IClassFactory, &out),
        S_OK);
    EXPECT_EQ(factory.refs, 4u);
    static_cast<IUnknown*>(out)->Release();

    EXPECT_EQ(CoRevokeClassObject(first), S_OK);
    EXPECT_EQ(CoRevokeClassObject(first), CO_E_OBJNOTREG);
    EXPECT_EQ(CoRevokeClassObject(second), S_OK);
    EXPECT_EQ(factory.refs, 1u);
    EXPECT_EQ(
        CoGetClassObject(CLSID_TestClass, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, &out),
        REGDB_E_CLASSNOTREG);
    CoUninitialize();
  })
      .join();
}

// The braced text both ways is checked with the owners' text of class identifiers, which
// turns the malformed lengths away before they reach CLSIDFromString.
TEST(GuidTextTest, NeedsItsFullBufferComparesEveryByteAndRejectsMalformedText) {
  OLECHAR text[CLSID_STRING_SIZE_CHARS];
  EXPECT_EQ(StringFromGUID2(CLSID_TestClass, text, CLSID_STRING_SIZE_CHARS), 39);
  EXPECT_EQ(StringFromGUID2(CLSID_TestClass, text, 38), 0);
  CLSID parsed = CLSID_TestClass;
  parsed.Data4[7] ^= 1;
  EXPECT_FALSE(IsEqualGUID(parsed, CLSID_TestClass)) << "equality compares all sixteen bytes";
  for (const char16_t* bad :
       {u"3F2A1B4C-5D6E-4F70-8192-A3B4C5D6E7F8", u"{3F2A1B4C-5D6E-4F70-8192-A3B4C5D6E7F}",
        u"{3F2A1B4C-5D6E-4F70-8192-A3B4C5D6E7F8}x"}) {
    EXPECT_EQ(CLSIDFromString(bad, &parsed), CO_E_CLASSSTRING) << "rejects a malformed string";
  }
}

}  // namespace
