#include "provider_fixture.h"

#include <stdlib.h>

#include <fstream>
#include <iostream>

#include <winplatform/posix_hooks.h>

#include "init_status_sink.h"
#include "provider/provider_class_id.h"
#include "server/factory.h"
#include "wmi_model/low_arena.h"
#include "wmi_test_support.h"

extern "C" int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine,
                              int showCommand);

namespace velt::provider::test {

const char* const kProviderMof = R"MOF(
#pragma namespace("\\\\.\\root\\test")
[dynamic, provider("NorvexVeltProxyProvider")] class Gadget {
  [key] string Name; uint32 Capacity;
  uint32 Resize([in] uint32 NewCapacity, [out] uint32 OldCapacity);
  void Reset();
};
class GadgetEvent { string Message; };
instance of __Win32Provider as $P { Name = "NorvexVeltProxyProvider";
  CLSID = "{6D0F4A2E-93B7-4C51-A8E2-5F19C3D7B06A}"; };
instance of __InstanceProviderRegistration { Provider = $P; SupportsGet = TRUE;
  SupportsPut = TRUE; SupportsEnumeration = TRUE; };
instance of __MethodProviderRegistration { Provider = $P; };
instance of __EventProviderRegistration { Provider = $P;
  EventQueryList = {"select * from GadgetEvent"}; };
)MOF";

namespace {

void collectDebugOutput(const char* text, void* context) {
  *static_cast<std::string*>(context) += text;
}

std::vector<std::string> readLines(const std::filesystem::path& file) {
  std::vector<std::string> lines;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace

void ProviderFixture::SetUp() {
  wmi::reserveLowArena();
  m_liveBefore = wmi::liveObjectCount();
  VeltSetDebugOutputHook(collectDebugOutput, &debugText);
  setenv("VELT_TEST_GLUE_LOG", (layout.root() / "glue.log").c_str(), 1);
  setenv("VELT_TEST_GLUE_CONTROL", (layout.root() / "glue.control").c_str(), 1);
  velt::test::removeInstallRecord();
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
  ASSERT_EQ(CFactory::RegisterEntries(), S_OK);
  VeltSetLocalServerEntry(WinMain, nullptr, layout.executable().c_str());
  service.loadMofText(kProviderMof, "provider.mof");
  ASSERT_EQ(service.openNamespace(u"root\\test", ns.put()), WBEM_S_NO_ERROR);
}

void ProviderFixture::TearDown() {
  ns.reset();
  service.shutdown();
  int exitCode = -1;
  EXPECT_TRUE(VeltWaitForLocalServerExit(30000, &exitCode));
  VeltSetLocalServerEntry(nullptr, nullptr, nullptr);
  VeltSetDebugOutputHook(nullptr, nullptr);
  EXPECT_EQ(wmi::liveObjectCount(), m_liveBefore) << "a WMI object was leaked or over-released";
  CoUninitialize();
  // The VM's own messages, -Xcheck:jni's among them, went to the log.
  std::cout << "---- trace log ----\n";
  for (const auto& line : layout.logLines()) std::cout << line << "\n";
  expectNoJniWarnings();
}

void ProviderFixture::expectNoJniWarnings() const {
  for (const auto& text : traces()) {
    EXPECT_EQ(text.find("WARNING"), std::string::npos) << "the VM reported a JNI fault: " << text;
  }
}

void ProviderFixture::install(GlueJar glue, bool sibling, bool gatedRuntime) {
  layout.link(gatedRuntime ? VELT_TEST_GATED_RUNTIME : VELT_TEST_LIBJVM,
              "jre/lib/server/libjvm.so");
  if (sibling) layout.link(VELT_TEST_SIBLING_LIBRARY, "ab/libqelvor.so");
  layout.link(VELT_TEST_SDK_JAR, "ab/velt-sdk.jar");
  if (glue == GlueJar::kScripted) layout.link(VELT_TEST_SCRIPTED_GLUE_JAR, "ab/glue.jar");
  if (glue == GlueJar::kBare) layout.link(VELT_TEST_BARE_GLUE_JAR, "ab/glue.jar");
  if (glue == GlueJar::kUnbuildable) layout.link(VELT_TEST_UNBUILDABLE_GLUE_JAR, "ab/glue.jar");
  layout.touch("ab/qelvor.dbg");
}

int ProviderFixture::refuseAttaches(bool refusing) {
  HMODULE runtime = GetModuleHandleA((layout.root() / "jre/lib/server/libjvm.so").c_str());
  auto refuse = reinterpret_cast<void (*)(int)>(
      reinterpret_cast<void*>(GetProcAddress(runtime, "gatedRuntimeRefuseAttaches")));
  auto refused = reinterpret_cast<int (*)()>(
      reinterpret_cast<void*>(GetProcAddress(runtime, "gatedRuntimeRefusedAttaches")));
  EXPECT_NE(refuse, nullptr) << "the gated runtime is not loaded";
  if (refuse == nullptr || refused == nullptr) return -1;
  refuse(refusing ? 1 : 0);
  return refused();
}

ComPtr<IUnknown> ProviderFixture::activate() {
  ComPtr<IUnknown> provider;
  EXPECT_EQ(CoCreateInstance(CLSID_NorvexVeltProxyProvider, nullptr, CLSCTX_LOCAL_SERVER,
                             IID_IUnknown, provider.putVoid()),
            S_OK);
  return provider;
}

LONG ProviderFixture::initialize(IUnknown* provider, const char16_t* nameSpace,
                                 IWbemServices* services) {
  ComPtr<IWbemProviderInit> init;
  provider->QueryInterface(IID_IWbemProviderInit, init.putVoid());
  EXPECT_TRUE(init);
  if (!init) return -1;
  velt::test::InitStatusSink sink;
  std::u16string name(nameSpace);
  EXPECT_EQ(init->Initialize(nullptr, 0, name.data(), nullptr, services ? services : ns.get(),
                             nullptr, &sink),
            WBEM_S_NO_ERROR);
  EXPECT_EQ(sink.statuses.size(), 1u);
  return sink.statuses.empty() ? -1 : sink.statuses.back();
}

void ProviderFixture::setControl(const std::string& text) {
  std::ofstream(layout.root() / "glue.control") << text << "\n";
}

std::vector<std::string> ProviderFixture::glueCalls() const {
  return readLines(layout.root() / "glue.log");
}

std::vector<std::string> ProviderFixture::traces() const {
  return velt::test::recordTexts(layout.logLines());
}

std::vector<std::string> ProviderFixture::tracesSinceMark() const {
  auto all = traces();
  return std::vector<std::string>(all.begin() + static_cast<long>(std::min(m_mark, all.size())),
                                  all.end());
}

ComPtr<IWbemServices> servicesOf(IUnknown* provider) {
  ComPtr<IWbemServices> services;
  provider->QueryInterface(IID_IWbemServices, services.putVoid());
  return services;
}

ComPtr<IWbemEventProvider> eventsOf(IUnknown* provider) {
  ComPtr<IWbemEventProvider> events;
  provider->QueryInterface(IID_IWbemEventProvider, events.putVoid());
  return events;
}

ComPtr<IWbemClassObject> newGadget(IWbemServices* ns, const char16_t* name) {
  ComPtr<IWbemClassObject> cls(wmi::test::classOf(ns, u"Gadget")), gadget;
  cls->SpawnInstance(0, gadget.put());
  wmi::test::putText(gadget.get(), u"Name", name);
  return gadget;
}

}  // namespace velt::provider::test
