// A client of the WMI service daemon in a process of its own: it reaches the service as every
// client does, by activating the locator class (which starts the daemon when none runs).
//   put NAME SIZE   writes a gadget
//   get NAME        prints the gadget's size
//   watch           subscribes to the gadgets' events, says "watching", then prints
//                   "event NAME" for each; "lost 0x..." and exit code 1 when the daemon goes;
//                   at the end of its input it cancels and says "cancelled 0x..."
//   hold            connects, says "ready", and after a line on its input gets g1
//   mixed N         N rounds of every kind of request, each checked; exit code 0 when all were
//                   right
//   keep NAME       subscribes to the gadgets' events, gets gadget NAME and keeps that copy,
//                   saying "copy SIZE events [SIZE...]" (the sizes of the copy and of every
//                   event kept so far) after each line of its input:
//                     show | set N (on the copy alone) | wait N (until N events came) |
//                     enum (saying first "listed SIZE", NAME's size in an enumeration)
//   sync            the synchronous and semisynchronous calls, each checked, saying
//                   "listed NAME... matched NAME... got SIZE open 0x... 0x..." (a forward-only
//                   enumeration read three at a time, a synchronous query, a get through its
//                   call result, opening a missing namespace: the call's status and what
//                   GetResultServices answers)
// A failed call prints "status 0x..." and exits with 1.
#include <poll.h>
#include <unistd.h>
#include <winplatform/remoting.h>

#include <atomic>
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

HRESULT get(IWbemServices* ns, const std::string& name, LONG& size) {
  const velt::UniqueBstr path =
      velt::bstrFromUtf16(u"Gadget.Name=\"" + velt::utf16FromUtf8(name) + u"\"");
  ComPtr<RecordingSink> got;
  HRESULT hr = runRequest(
      [&](IWbemObjectSink* s) { return ns->GetObjectAsync(path.get(), 0, nullptr, s); }, &got);
  if (FAILED(hr)) return hr;
  if (got->objects().size() != 1) return WBEM_E_NOT_FOUND;
  velt::OwnedVariant value;
  got->objects()[0]->Get(u"Size", 0, value.get(), nullptr, nullptr);
  size = value.value().vt == VT_I4 ? value.value().lVal : -1;
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
  std::atomic<bool> lost{false};
  velt::remoting::whenDisconnected(ns, [&lost] { lost = true; });
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
    if (lost) {
      std::printf("lost 0x%08X\n", static_cast<unsigned>(RPC_E_DISCONNECTED));
      std::fflush(stdout);
      return 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  HRESULT cancelled = ns->CancelAsyncCall(events.get());
  std::printf("cancelled 0x%08X\n", static_cast<unsigned>(cancelled));
  std::fflush(stdout);
  return SUCCEEDED(cancelled) ? 0 : 1;
}

LONG sizeOf(IWbemClassObject* object) {
  velt::OwnedVariant value;
  object->Get(u"Size", 0, value.get(), nullptr, nullptr);
  return value.value().vt == VT_I4 ? value.value().lVal : -1;
}

// The names an enumerator hands out, read `batch` at a time; its end must be WBEM_S_FALSE.
HRESULT namesOf(IEnumWbemClassObject* enumerator, ULONG batch, std::string& names) {
  for (;;) {
    std::vector<IWbemClassObject*> objects(batch, nullptr);
    ULONG returned = 0;
    HRESULT hr = enumerator->Next(LONG(WBEM_INFINITE), batch, objects.data(), &returned);
    for (ULONG i = 0; i < returned; ++i) {
      names += " " + velt::utf8FromUtf16(velt::wmi::test::getText(objects[i], u"Name"));
      objects[i]->Release();
    }
    if (hr == WBEM_S_FALSE) return WBEM_S_NO_ERROR;
    if (hr != WBEM_S_NO_ERROR) return FAILED(hr) ? hr : E_UNEXPECTED;
  }
}

int synchronousCalls(IWbemServices* ns) {
  const velt::UniqueBstr className = velt::bstrFromUtf16(u"Gadget"),
                         wql = velt::bstrFromUtf16(u"WQL"),
                         query = velt::bstrFromUtf16(u"SELECT Name FROM Gadget WHERE Size >= 1"),
                         g2 = velt::bstrFromUtf16(u"Gadget.Name=\"g2\""),
                         missing = velt::bstrFromUtf16(u"missing");
  std::string listed, matched;
  ComPtr<IEnumWbemClassObject> all, some;
  HRESULT hr = ns->CreateInstanceEnum(
      className.get(), WBEM_FLAG_RETURN_IMMEDIATELY | WBEM_FLAG_FORWARD_ONLY, nullptr, all.put());
  if (SUCCEEDED(hr)) hr = namesOf(all.get(), 3, listed);
  if (SUCCEEDED(hr)) hr = ns->ExecQuery(wql.get(), query.get(), 0, nullptr, some.put());
  if (SUCCEEDED(hr)) hr = namesOf(some.get(), 10, matched);
  if (FAILED(hr)) return failed(hr);
  ComPtr<IWbemCallResult> result;
  ComPtr<IWbemClassObject> object;
  hr = ns->GetObject(g2.get(), WBEM_FLAG_RETURN_IMMEDIATELY, nullptr, nullptr, result.put());
  if (SUCCEEDED(hr)) hr = result->GetResultObject(LONG(WBEM_INFINITE), object.put());
  if (FAILED(hr)) return failed(hr);
  // Opening is at once, its outcome waits in the call result: here a namespace that is not.
  ComPtr<IWbemCallResult> opening;
  ComPtr<IWbemServices> opened;
  LONG openStatus = 0;
  hr = ns->OpenNamespace(missing.get(), WBEM_FLAG_RETURN_IMMEDIATELY, nullptr, nullptr,
                         opening.put());
  if (SUCCEEDED(hr)) hr = opening->GetCallStatus(LONG(WBEM_INFINITE), &openStatus);
  if (FAILED(hr)) return failed(hr);
  HRESULT services = opening->GetResultServices(LONG(WBEM_INFINITE), opened.put());
  std::printf("listed%s matched%s got %d open 0x%08X 0x%08X\n", listed.c_str(), matched.c_str(),
              static_cast<int>(sizeOf(object.get())), static_cast<unsigned>(openStatus),
              static_cast<unsigned>(services));
  std::fflush(stdout);
  return 0;
}

int keep(IWbemServices* ns, const std::string& name) {
  const velt::UniqueBstr className = velt::bstrFromUtf16(u"Gadget"),
                         path = velt::bstrFromUtf16(u"Gadget.Name=\"" + velt::utf16FromUtf8(name) +
                                                    u"\"");
  ComPtr<RecordingSink> events(RecordingSink::create()), got;
  HRESULT hr = velt::wmi::test::subscribe(ns, events.get());
  if (SUCCEEDED(hr)) {
    hr = runRequest(
        [&](IWbemObjectSink* s) { return ns->GetObjectAsync(path.get(), 0, nullptr, s); }, &got);
  }
  if (FAILED(hr)) return failed(hr);
  if (got->objects().size() != 1) return failed(WBEM_E_NOT_FOUND);
  IWbemClassObject* copy = got->objects()[0];
  std::string line;
  while (std::getline(std::cin, line)) {
    if (line.rfind("set ", 0) == 0) {
      velt::wmi::test::putInt(copy, u"Size", std::stoi(line.substr(4)));
    } else if (line.rfind("wait ", 0) == 0) {
      events->waitForObjects(std::stoul(line.substr(5)), std::chrono::seconds(30));
    } else if (line == "enum") {
      ComPtr<RecordingSink> all;
      hr = runRequest(
          [&](IWbemObjectSink* s) {
            return ns->CreateInstanceEnumAsync(className.get(), 0, nullptr, s);
          },
          &all);
      if (FAILED(hr)) return failed(hr);
      for (IWbemClassObject* object : all->objects()) {
        if (velt::wmi::test::getText(object, u"Name") == velt::utf16FromUtf8(name)) {
          std::printf("listed %d\n", static_cast<int>(sizeOf(object)));
        }
      }
    }
    std::printf("copy %d events [", static_cast<int>(sizeOf(copy)));
    for (IWbemClassObject* event : events->objects()) {
      std::printf(" %d", static_cast<int>(sizeOf(event)));
    }
    std::printf(" ]\n");
    std::fflush(stdout);
  }
  return ns->CancelAsyncCall(events.get()) == WBEM_S_NO_ERROR ? 0 : 1;
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
  if (mode == "mixed" && argc == 3) {
    const std::u16string me = u"c" + velt::utf16FromUtf8(std::to_string(getpid()));
    return velt::wmi::test::mixedRequests(ns.get(), me, std::stoi(argv[2])) == 0 ? 0 : 1;
  }
  if (mode == "keep" && argc == 3) return keep(ns.get(), argv[2]);
  if (mode == "sync") return synchronousCalls(ns.get());
  if (mode == "hold") {
    std::printf("ready\n");
    std::fflush(stdout);
    std::string line;
    std::getline(std::cin, line);
    LONG size = -1;
    hr = get(ns.get(), "g1", size);
    return FAILED(hr) ? failed(hr) : 0;
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
