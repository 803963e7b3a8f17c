#include "in_process_server.h"

#include <owners/com_ptr.h>
#include <owners/owned_variant.h>
#include <owners/unique_handle.h>

#include <stdlib.h>

#include <objbase.h>
#include <winplatform/posix_hooks.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <optional>
#include <stdexcept>

#include <wmi/service.h>
#include <wmi_model/low_arena.h>

#include "child_process.h"
#include "provider/provider_class_id.h"

extern "C" int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine,
                              int showCommand);

namespace velt::host {
namespace {

constexpr char kClassKey[] = "CLSID\\{6D0F4A2E-93B7-4C51-A8E2-5F19C3D7B06A}\\LocalServer32";

constexpr char kMof[] = R"MOF(
#pragma namespace("\\\\.\\root\\bench")
[dynamic, provider("NorvexVeltProxyProvider")]
class Bench_Item {
  [key] string Name;
  sint32 Size;
  uint32 Grow([in] sint32 By, [out] sint32 NewSize);
};
class Bench_Event { string What; };
instance of __Win32Provider as $P {
  Name = "NorvexVeltProxyProvider";
  CLSID = "{6D0F4A2E-93B7-4C51-A8E2-5F19C3D7B06A}";
};
instance of __InstanceProviderRegistration {
  Provider = $P; SupportsGet = TRUE; SupportsPut = TRUE; SupportsEnumeration = TRUE;
};
instance of __MethodProviderRegistration { Provider = $P; };
instance of __EventProviderRegistration {
  Provider = $P; EventQueryList = {"select * from Bench_Event"};
};
)MOF";

void link(const std::filesystem::path& target, const std::filesystem::path& where) {
  std::filesystem::create_directories(where.parent_path());
  std::filesystem::create_symlink(target, where);
}

void registerServer(const std::string& executable) {
  velt::UniqueRegistryKey key;
  if (RegCreateKeyExA(HKEY_CLASSES_ROOT, kClassKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      key.put(), nullptr) != ERROR_SUCCESS) {
    throw std::runtime_error("cannot register the server");
  }
  RegSetValueExA(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(executable.c_str()),
                 static_cast<DWORD>(executable.size() + 1));
}

void putText(IWbemClassObject* object, const char16_t* name, const char16_t* text) {
  velt::OwnedVariant value;
  value.get()->vt = VT_BSTR;
  value.get()->bstrVal = SysAllocString(text);
  object->Put(name, 0, value.get(), 0);
}

// One reference for the caller; null when the class is unknown.
IWbemClassObject* spawn(IWbemServices* nameSpace, const char16_t* className) {
  ComPtr<IWbemClassObject> definition;
  velt::UniqueBstr name(SysAllocString(className));
  IWbemClassObject* instance = nullptr;
  if (SUCCEEDED(nameSpace->GetObject(name.get(), 0, nullptr, definition.put(), nullptr))) {
    definition->SpawnInstance(0, &instance);
  }
  return instance;
}

class WaitingInitSink final : public IWbemProviderInitSink {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IWbemProviderInitSink)) {
      *out = this;
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_references); }
  STDMETHODIMP_(ULONG) Release() override {
    LONG left = InterlockedDecrement(&m_references);
    if (left == 0) delete this;
    return left;
  }
  STDMETHODIMP SetStatus(LONG status, LONG) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_status) m_status = status;
    m_reported.notify_all();
    return WBEM_S_NO_ERROR;
  }
  std::optional<LONG> wait() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_reported.wait_for(lock, std::chrono::seconds(60), [&] { return m_status.has_value(); });
    return m_status;
  }

 private:
  ~WaitingInitSink() = default;
  LONG m_references = 1;
  std::mutex m_mutex;
  std::condition_variable m_reported;
  std::optional<LONG> m_status;
};

}  // namespace

struct InProcessServer::Stand {
  velt::wmi::Service service;
};

InProcessServer::InProcessServer(HostOptions options) {
  velt::wmi::reserveLowArena();
  std::string pattern = (std::filesystem::temp_directory_path() / "velt-host-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("no temporary folder");
  m_root = pattern;
  // The runtime search looks two characters up from the program's folder: a two-letter
  // folder puts the runtime at <root>/jre.
  m_programDirectory = m_root / "pp";
  std::filesystem::create_directories(m_programDirectory);
  std::filesystem::create_directories(m_root / "appdata");
  link(VELT_HOST_SIBLING_LIBRARY, m_programDirectory / "libqelvor.so");
  link(VELT_HOST_SDK_JAR, m_programDirectory / "velt-sdk.jar");
  if (options.javaJars.empty()) {
    link(VELT_HOST_GLUE_JAR, m_programDirectory / "velt-cheap-glue.jar");
  }
  for (const std::filesystem::path& jar : options.javaJars) {
    link(jar, m_programDirectory / jar.filename());
  }
  link(VELT_HOST_LIBJVM, m_root / "jre/lib/server/libjvm.so");
  // VELT_HOST_TRACE keeps the installation with its trace log, to see why a run failed.
  m_keep = std::getenv("VELT_HOST_TRACE") != nullptr;
  if (options.traceLog || m_keep) std::ofstream(m_programDirectory / "qelvor.dbg") << "";

  m_executable = (m_programDirectory / "server").string();
  m_ownProcess = !options.serverExecutable.empty();
  setenv("VELT_REGISTRY", (m_root / "registry.db").c_str(), 1);
  setenv("XDG_DATA_HOME", (m_root / "appdata").c_str(), 1);
  VeltRegistryReset();
  if (m_ownProcess) {
    // Copies, not links: the server finds its folder, and the runtime, from its own path.
    std::filesystem::copy_file(options.serverExecutable, m_executable);
    std::filesystem::copy_file(
        VELT_HOST_PLATFORM_LIBRARY,
        m_programDirectory / std::filesystem::path(VELT_HOST_PLATFORM_LIBRARY).filename());
    std::filesystem::create_directories(m_root / "run");
    std::filesystem::permissions(m_root / "run", std::filesystem::perms::owner_all);
    setenv("XDG_RUNTIME_DIR", (m_root / "run").c_str(), 1);
  } else {
    VeltSetModuleFileNameOverride(m_executable.c_str());
  }
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  registerServer(m_executable);
  if (!m_ownProcess) VeltSetLocalServerEntry(WinMain, nullptr, m_executable.c_str());

  m_liveAtStart = velt::wmi::liveObjectCount();
  m_stand = new Stand();
  m_stand->service.loadMofText(kMof, "bench.mof");
  if (FAILED(m_stand->service.openNamespace(kNamespace, &m_namespace))) {
    throw std::runtime_error("cannot open the namespace");
  }
}

bool InProcessServer::shutDown() {
  if (m_shutDown) return true;
  m_shutDown = true;
  if (m_namespace != nullptr) m_namespace->Release();
  m_namespace = nullptr;
  m_stand->service.shutdown();
  if (m_ownProcess) {
    return velt::test::within(std::chrono::seconds(60),
                              [&] { return velt::test::processesOf(m_executable).empty(); });
  }
  int exitCode = -1;
  bool ended = VeltWaitForLocalServerExit(60000, &exitCode);
  return ended && exitCode == 0;
}

InProcessServer::~InProcessServer() {
  shutDown();
  delete m_stand;
  VeltSetLocalServerEntry(nullptr, nullptr, nullptr);
  CoUninitialize();
  VeltSetModuleFileNameOverride(nullptr);
  VeltRegistryReset();
  if (m_keep) {
    std::fprintf(stderr, "provider host kept: %s\n", m_root.c_str());
    return;
  }
  std::error_code ignored;
  std::filesystem::remove_all(m_root, ignored);
}

IWbemClassObject* InProcessServer::newItem(const char16_t* name) const {
  IWbemClassObject* item = spawn(m_namespace, kItemClass);
  if (item != nullptr && name != nullptr) putText(item, u"Name", name);
  return item;
}

IWbemClassObject* InProcessServer::newEvent() const {
  IWbemClassObject* event = spawn(m_namespace, kEventClass);
  if (event != nullptr) putText(event, u"What", u"bench");
  return event;
}

std::filesystem::path InProcessServer::logPath() const { return m_programDirectory / "qelvor.log"; }

std::filesystem::path InProcessServer::consoleLogPath() const {
  return m_executable + ".console.log";
}

HRESULT initializeProvider(IUnknown* provider, IWbemServices* nameSpace) {
  ComPtr<IWbemProviderInit> init;
  HRESULT hr = provider->QueryInterface(IID_IWbemProviderInit, init.putVoid());
  if (FAILED(hr)) return hr;
  // Reference-counted: a server in a process of its own may release its proxy of the sink after
  // Initialize has returned here.
  ComPtr<WaitingInitSink> sink(new WaitingInitSink());
  std::u16string name = InProcessServer::kNamespace;
  hr = init->Initialize(nullptr, 0, name.data(), nullptr, nameSpace, nullptr, sink.get());
  if (FAILED(hr)) return hr;
  return sink->wait().value_or(WBEM_E_TIMED_OUT);
}

IWbemServices* InProcessServer::newProviderObject() const {
  IUnknown* object = nullptr;
  if (FAILED(CoCreateInstance(CLSID_NorvexVeltProxyProvider, nullptr, CLSCTX_LOCAL_SERVER,
                              IID_IUnknown, reinterpret_cast<void**>(&object)))) {
    return nullptr;
  }
  IWbemServices* services = nullptr;
  if (SUCCEEDED(initializeProvider(object, m_namespace))) {
    object->QueryInterface(IID_IWbemServices, reinterpret_cast<void**>(&services));
  }
  object->Release();
  return services;
}

}  // namespace velt::host
