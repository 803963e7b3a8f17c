// The provider object without a running Java VM.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <owners/com_ptr.h>
#include <owners/unique_handle.h>
#include <winplatform/posix_hooks.h>

#include <cstdint>

#include "init_status_sink.h"
#include "javapointer/java_pointer.h"
#include "provider/proxy_provider.h"
#include "test_layout.h"
#include "wmi/service.h"
#include "wmi_model/low_arena.h"
#include "wmi_model/recording_sink.h"

namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using velt::test::InitStatusSink;
using velt::wmi::RecordingSink;

class ProviderUnitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    velt::wmi::reserveLowArena();
    liveBefore = velt::wmi::liveObjectCount();
    layout.openLog();
    CUnknown* created = nullptr;
    ASSERT_EQ(CProxyProvider::CreateInstance(nullptr, &created), S_OK);
    provider = static_cast<CProxyProvider*>(created);
    service.loadMofText(
        "#pragma namespace(\"\\\\\\\\.\\\\root\\\\unit\")\nclass Thing { [key] string Name; };\n",
        "unit.mof");
    ASSERT_EQ(service.openNamespace(u"root\\unit", ns.put()), WBEM_S_NO_ERROR);
  }
  void TearDown() override {
    if (provider != nullptr) provider->InnerRelease();
    ns.reset();
    service.shutdown();
    EXPECT_EQ(velt::wmi::liveObjectCount(), liveBefore);
    EXPECT_EQ(CProxyProvider::sm_cJvmUsers, 0);
  }
  std::vector<std::string> records() const { return velt::test::recordTexts(layout.logLines()); }

  velt::test::TestLayout layout;
  velt::wmi::Service service;
  velt::ComPtr<IWbemServices> ns;
  CProxyProvider* provider = nullptr;
  long liveBefore = 0;
};

TEST_F(ProviderUnitTest, ThreeInterfacesShareOneIdentityAndCount) {
  IWbemServices* services = nullptr;
  IWbemProviderInit* init = nullptr;
  IWbemEventProvider* events = nullptr;
  IUnknown* unknown = nullptr;
  IUnknown* fromInit = nullptr;
  ASSERT_EQ(provider->InnerQueryInterface(IID_IWbemServices, reinterpret_cast<void**>(&services)),
            S_OK);
  ASSERT_EQ(services->QueryInterface(IID_IWbemProviderInit, reinterpret_cast<void**>(&init)), S_OK);
  ASSERT_EQ(init->QueryInterface(IID_IWbemEventProvider, reinterpret_cast<void**>(&events)), S_OK);
  ASSERT_EQ(events->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
  ASSERT_EQ(services->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&fromInit)), S_OK);
  EXPECT_NE(static_cast<void*>(services), static_cast<void*>(init));
  EXPECT_NE(static_cast<void*>(init), static_cast<void*>(events));
  EXPECT_EQ(unknown, fromInit);
  EXPECT_EQ(unknown, provider->GetInnerUnknown());
  // 1 (creation) + 5 handed out: every part reports the same count.
  EXPECT_EQ(services->AddRef(), 7u);
  EXPECT_EQ(events->Release(), 6u);
  EXPECT_EQ(init->AddRef(), 7u);
  init->Release();
  void* nothing = &nothing;
  EXPECT_EQ(services->QueryInterface(IID_IWbemContext, &nothing), E_NOINTERFACE);
  EXPECT_EQ(nothing, nullptr);
  for (IUnknown* part : {static_cast<IUnknown*>(services), static_cast<IUnknown*>(init),
                         static_cast<IUnknown*>(events), unknown, fromInit}) {
    part->Release();
  }
  // Never initialised, it counted no VM user (TearDown checks) and shuts nothing down.
  provider->InnerRelease();
  provider = nullptr;
  EXPECT_THAT(records(), Contains("CProxyProvider::~CProxyProvider()"));
  EXPECT_THAT(records(), ::testing::Not(Contains("Shutting down the JVM")));
}

TEST_F(ProviderUnitTest, DeclinedOperationsAnswerNotSupportedAndTouchNothing) {
  size_t before = records().size();
  IWbemServices* s = provider;
  auto* junk = reinterpret_cast<IWbemClassObject*>(std::uintptr_t{0x10});
  IWbemServices* untouchedServices = s;
  IWbemObjectSink* untouchedSink = reinterpret_cast<IWbemObjectSink*>(std::uintptr_t{0x20});
  IWbemClassObject* untouchedObject = junk;
  IEnumWbemClassObject* untouchedEnum =
      reinterpret_cast<IEnumWbemClassObject*>(std::uintptr_t{0x30});
  IWbemCallResult* untouchedResult = reinterpret_cast<IWbemCallResult*>(std::uintptr_t{0x40});
  const HRESULT declined[] = {
      s->OpenNamespace(nullptr, 0, nullptr, &untouchedServices, &untouchedResult),
      s->CancelAsyncCall(nullptr),
      s->QueryObjectSink(0, &untouchedSink),
      s->GetObject(nullptr, 0, nullptr, &untouchedObject, &untouchedResult),
      s->PutClass(junk, 0, nullptr, &untouchedResult),
      s->PutClassAsync(nullptr, 0, nullptr, nullptr),
      s->DeleteClass(nullptr, 0, nullptr, &untouchedResult),
      s->DeleteClassAsync(nullptr, 0, nullptr, nullptr),
      s->CreateClassEnum(nullptr, 0, nullptr, &untouchedEnum),
      s->CreateClassEnumAsync(nullptr, 0, nullptr, nullptr),
      s->PutInstance(junk, 0, nullptr, &untouchedResult),
      s->DeleteInstance(nullptr, 0, nullptr, &untouchedResult),
      s->DeleteInstanceAsync(nullptr, 0, nullptr, nullptr),
      s->CreateInstanceEnum(nullptr, 0, nullptr, &untouchedEnum),
      s->ExecQuery(nullptr, nullptr, 0, nullptr, &untouchedEnum),
      s->ExecQueryAsync(nullptr, nullptr, 0, nullptr, nullptr),
      s->ExecNotificationQuery(nullptr, nullptr, 0, nullptr, &untouchedEnum),
      s->ExecNotificationQueryAsync(nullptr, nullptr, 0, nullptr, nullptr),
      s->ExecMethod(nullptr, nullptr, 0, nullptr, junk, &untouchedObject, &untouchedResult),
  };
  for (HRESULT result : declined) EXPECT_EQ(result, WBEM_E_NOT_SUPPORTED);
  EXPECT_EQ(untouchedServices, s);
  EXPECT_EQ(untouchedObject, junk);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(untouchedSink), 0x20u);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(untouchedEnum), 0x30u);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(untouchedResult), 0x40u);
  EXPECT_EQ(records().size(), before);
}

TEST_F(ProviderUnitTest, MissingArgumentsAreRefusedAfterTheEntryRecord) {
  velt::ComPtr<RecordingSink> sink(RecordingSink::create());
  velt::UniqueBstr path(SysAllocString(u"Thing.Name=\"a\""));
  InitStatusSink initSink;
  struct Row {
    const char* entry;
    HRESULT result;
  };
  const Row rows[] = {
      {"CProxyProvider::Initialize()",
       provider->Initialize(nullptr, 0, nullptr, nullptr, nullptr, nullptr, &initSink)},
      {"CProxyProvider::Initialize()",
       provider->Initialize(nullptr, 0, nullptr, nullptr, ns.get(), nullptr, nullptr)},
      {"CProxyProvider::GetObjectAsync()",
       provider->GetObjectAsync(nullptr, 0, nullptr, sink.get())},
      {"CProxyProvider::GetObjectAsync()",
       provider->GetObjectAsync(path.get(), 0, nullptr, nullptr)},
      {"CProxyProvider::PutInstanceAsync()",
       provider->PutInstanceAsync(nullptr, 0, nullptr, sink.get())},
      {"CProxyProvider::CreateInstanceEnumAsync",
       provider->CreateInstanceEnumAsync(nullptr, 0, nullptr, sink.get())},
      {"CProxyProvider::ExecMethodAsync()",
       provider->ExecMethodAsync(path.get(), nullptr, 0, nullptr, nullptr, sink.get())},
      {"CProxyProvider::ProvideEvents()", provider->ProvideEvents(nullptr, 0)},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(row.result, WBEM_E_INVALID_PARAMETER) << row.entry;
    EXPECT_THAT(records(), Contains(row.entry));
  }
  EXPECT_TRUE(initSink.statuses.empty());
  EXPECT_TRUE(sink->events().empty());
  // A path the parser refuses is refused before anything else.
  velt::UniqueBstr badPath(SysAllocString(u"Bad Class.Name=1"));
  EXPECT_EQ(provider->GetObjectAsync(badPath.get(), 0, nullptr, sink.get()),
            WBEM_E_INVALID_OBJECT_PATH);
  EXPECT_EQ(provider->ExecMethodAsync(badPath.get(), path.get(), 0, nullptr, nullptr, sink.get()),
            WBEM_E_INVALID_OBJECT_PATH);
}

TEST_F(ProviderUnitTest, AVmThatCannotStartFailsEveryInitializeAndIsNeverAttached) {
  InitStatusSink initSink;
  // No sibling library and no runtime: the start fails; a second Initialize on the object is
  // refused (a later provider object tries the start again).
  EXPECT_EQ(provider->Initialize(nullptr, 0, nullptr, nullptr, ns.get(), nullptr, &initSink), S_OK);
  EXPECT_EQ(provider->Initialize(nullptr, 0, nullptr, nullptr, ns.get(), nullptr, &initSink), S_OK);
  EXPECT_THAT(initSink.statuses, ElementsAre(WBEM_E_FAILED, WBEM_E_FAILED));
  EXPECT_EQ(CProxyProvider::sm_cJvmUsers, 1);  // counted once, however often initialised
  auto texts = records();
  EXPECT_THAT(texts, Contains("Unable to start JVM.").Times(1));
  EXPECT_THAT(texts, Contains("Initialize refused: this provider object was initialised before."));
  EXPECT_THAT(texts,
              Contains(::testing::StartsWith("JvmServices object has been allocated")).Times(1));
  velt::ComPtr<RecordingSink> sink(RecordingSink::create());
  EXPECT_EQ(provider->ProvideEvents(sink.get(), 0), WBEM_E_FAILED);
  provider->InnerRelease();
  provider = nullptr;
  sink.reset();
  EXPECT_THAT(records(), Contains("Shutting down the JVM"));
  EXPECT_EQ(CProxyProvider::sm_pJVM, nullptr);
}

TEST(CheckForEventsTest, DeliversOnlyARealObjectToARealSink) {
  velt::wmi::reserveLowArena();
  velt::ComPtr<RecordingSink> sink(RecordingSink::create());
  auto sinkValue = static_cast<jint>(*pointerToJava(sink.get()));
  Java_com_norvex_sysmgt_proxy_Glue_CheckForEvents(nullptr, nullptr, sinkValue, 0);
  Java_com_norvex_sysmgt_proxy_Glue_CheckForEvents(nullptr, nullptr, 0, 0x1234);
  EXPECT_TRUE(sink->events().empty());
}

TEST(JavaPointerTest, SignExtendsGoingInAndRefusesWhatDoesNotFit) {
  EXPECT_EQ(pointerToJava(nullptr), 0);
  EXPECT_EQ(pointerToJava(reinterpret_cast<void*>(std::uintptr_t{0x7fffffff})), 0x7fffffff);
  EXPECT_EQ(pointerToJava(reinterpret_cast<void*>(std::uintptr_t{0x80000000})), -0x80000000LL);
  EXPECT_EQ(pointerToJava(reinterpret_cast<void*>(std::uintptr_t{0xfffffff0})), -16);
  if constexpr (sizeof(void*) > 4) {
    EXPECT_FALSE(pointerToJava(reinterpret_cast<void*>(std::uintptr_t{1} << 32)).has_value());
  }
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(pointerFromJava<IUnknown>(-16)), 0xfffffff0u);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(pointerFromJava<IUnknown>(0x1234)), 0x1234u);
}

}  // namespace
