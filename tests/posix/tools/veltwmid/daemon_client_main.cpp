// A client of the WMI service daemon in a process of its own: it reaches the service as every
// client does, by activating the locator class (which starts the daemon when none runs).
//   put NAME SIZE   writes a gadget
//   get NAME        prints the gadget's size
//   watch           subscribes to the gadgets' events, says "watching", then prints
//                   "event NAME" for each; at the end of its input it cancels and says
//                   "cancelled 0x..."
//   mixed N         N rounds of every kind of request, each checked; exit code 0 when all were
//                   right
//   hold            connects, says "ready" and keeps its connection until its input ends
// A failed call prints "status 0x..." and exits with 1.
#include <objbase.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "mixed_requests.h"
#include "wmi/service_locator.h"
#include "wmi_model/com_object.h"
#include "wmi_model/recording_sink.h"
#include "wmi_test_support.h"

namespace {

using velt::ComPtr;
using velt::wmi::RecordingSink;
using velt::wmi::test::runRequest;

int failed(HRESULT status) {
  std::printf("status 0x%08X\n", static_cast<unsigned>(status));
  std::fflush(stdout);
  return 1;
}

HRESULT connect(ComPtr<IWbemServices>& ns) {
  ComPtr<IWbemLocator> locator;
  HRESULT hr =
      CoCreateInstance(velt::wmi::CLSID_VeltWmiServiceLocator, nullptr, CLSCTX_LOCAL_SERVER,
                       IID_IWbemLocator, reinterpret_cast<void**>(locator.put()));
  if (FAILED(hr)) return hr;
  const velt::UniqueBstr resource = velt::bstrFromUtf16(u"\\\\.\\root\\test");
  return locator->ConnectServer(resource.get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                ns.put());
}

LONG sizeOf(IWbemClassObject* object) {
  velt::OwnedVariant value;
  object->Get(u"Size", 0, value.get(), nullptr, nullptr);
  return value.value().vt == VT_I4 ? value.value().lVal : -1;
}

HRESULT get(IWbemServices* ns, const std::string& name, LONG& size) {
  const velt::UniqueBstr path =
      velt::bstrFromUtf16(u"Gadget.Name=\"" + velt::utf16FromUtf8(name) + u"\"");
  ComPtr<RecordingSink> got;
  HRESULT hr = runRequest(
      [&](IWbemObjectSink* s) { return ns->GetObjectAsync(path.get(), 0, nullptr, s); }, &got);
  if (FAILED(hr)) return hr;
  if (got->objects().size() != 1) return WBEM_E_NOT_FOUND;
  size = sizeOf(got->objects()[0]);
  return WBEM_S_NO_ERROR;
}

HRESULT put(IWbemServices* ns, const std::string& name, LONG size) {
  ComPtr<IWbemClassObject> cls(velt::wmi::test::classOf(ns, u"Gadget"));
  if (!cls) return WBEM_E_INVALID_CLASS;
  ComPtr<IWbemClassObject> instance;
  cls->SpawnInstance(0, instance.put());
  velt::wmi::test::putText(instance.get(), u"Name", velt::utf16FromUtf8(name).c_str());
  velt::wmi::test::putInt(instance.get(), u"Size", size);
  return runRequest(
      [&](IWbemObjectSink* s) { return ns->PutInstanceAsync(instance.get(), 0, nullptr, s); });
}

bool inputEnded() {
  pollfd input{STDIN_FILENO, POLLIN, 0};
  if (poll(&input, 1, 0) != 1) return false;
  char c;
  return read(STDIN_FILENO, &c, 1) <= 0;
}

int watch(IWbemServices* ns, const std::string& eventQuery) {
  ComPtr<RecordingSink> events(RecordingSink::create());
  HRESULT hr =
      velt::wmi::test::subscribe(ns, events.get(), velt::utf16FromUtf8(eventQuery).c_str());
  if (FAILED(hr)) return failed(hr);
  std::printf("watching\n");
  std::fflush(stdout);
  std::size_t shown = 0;
  while (!inputEnded()) {
    std::vector<IWbemClassObject*> objects = events->objects();
    for (; shown < objects.size(); ++shown) {
      std::printf("event %s\n",
                  velt::utf8FromUtf16(velt::wmi::test::getText(objects[shown], u"Name")).c_str());
      std::fflush(stdout);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  HRESULT cancelled = ns->CancelAsyncCall(events.get());
  std::printf("cancelled 0x%08X\n", static_cast<unsigned>(cancelled));
  std::fflush(stdout);
  return SUCCEEDED(cancelled) ? 0 : 1;
}

int serve(int argc, char** argv) {
  std::string mode = argc > 1 ? argv[1] : "";
  ComPtr<IWbemServices> ns;
  HRESULT hr = connect(ns);
  if (FAILED(hr)) return failed(hr);
  if (mode == "put" && argc == 4) {
    hr = put(ns.get(), argv[2], std::stoi(argv[3]));
    return FAILED(hr) ? failed(hr) : 0;
  }
  if (mode == "get" && argc == 3) {
    LONG size = -1;
    hr = get(ns.get(), argv[2], size);
    if (FAILED(hr)) return failed(hr);
    std::printf("%d\n", static_cast<int>(size));
    return 0;
  }
  if (mode == "watch") return watch(ns.get(), argc > 2 ? argv[2] : "select * from GadgetChanged");
  if (mode == "hold") {
    std::printf("ready\n");
    std::fflush(stdout);
    std::string line;
    std::getline(std::cin, line);
    return 0;
  }
  if (mode == "mixed" && argc == 3) {
    const std::u16string me = u"c" + velt::utf16FromUtf8(std::to_string(getpid()));
    return velt::wmi::test::mixedRequests(ns.get(), me, std::stoi(argv[2])) == 0 ? 0 : 1;
  }
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 2;
  int code = serve(argc, argv);
  CoUninitialize();
  return code;
}
