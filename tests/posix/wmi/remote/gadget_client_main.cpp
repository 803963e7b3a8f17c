// A client of the gadget provider in a process of its own, for the tests of many clients on
// one server and of clients that vanish.
//   watch: subscribes to the gadgets' events, says "watching" once one arrived, then waits on
//          its standard input.
//   mixed N: N rounds of write, get, enumerate, query, call and a short subscription, each checked;
//          exit code 0 when every outcome was right.
//   enumerate N hold|flow: enumerates N made-up gadgets, says "enumerating" once the first
//          arrived, then waits on its standard input; its sink either holds the first gadget's
//          call (so the server waits for room) or takes every gadget as it comes.
//   next|skip: asks the provider itself (not through the service) for a semisynchronous
//          enumeration that goes on for hours, says "waiting" and waits in an endless Next (or
//          Skip) on the enumerator, which lives in the server.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <future>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "gadget_provider.h"
#include "init_status_sink.h"
#include "mixed_requests.h"
#include "wmi_model/com_object.h"
#include "wmi_model/recording_sink.h"
#include "wmi_test_support.h"

namespace {

using velt::ComPtr;
using velt::wmi::RecordingSink;
using velt::wmi::test::runRequest;
constexpr auto kWait = std::chrono::seconds(30);

// Counts what arrives and keeps nothing; with `hold`, never returns from the first call.
class EnumerationSink final
    : public velt::wmi::detail::ComObject<IWbemObjectSink, IID_IWbemObjectSink> {
 public:
  explicit EnumerationSink(bool hold) : m_hold(hold) {}
  STDMETHODIMP Indicate(LONG count, IWbemClassObject**) override {
    if (m_arrived.fetch_add(count) == 0) m_first.set_value();
    while (m_hold) std::this_thread::sleep_for(std::chrono::seconds(1));
    return WBEM_S_NO_ERROR;
  }
  STDMETHODIMP SetStatus(LONG, HRESULT, BSTR, IWbemClassObject*) override {
    return WBEM_S_NO_ERROR;
  }
  std::future<void> first() { return m_first.get_future(); }

 private:
  const bool m_hold;
  std::atomic<long> m_arrived{0};
  std::promise<void> m_first;
};

int enumerate(IWbemServices* ns, long count, bool hold) {
  ComPtr<IWbemContext> context =
      veltwmi::test::gadgetContext(u"GadgetCount", static_cast<LONG>(count));
  ComPtr<EnumerationSink> sink(new EnumerationSink(hold));
  auto first = sink->first();
  const velt::UniqueBstr className = velt::bstrFromUtf16(u"Gadget");
  // The request returns only when the enumeration ended, which the test does not wait for.
  std::thread([ns, context, sink, &className] {
    ns->CreateInstanceEnumAsync(className.get(), 0, context.get(), sink.get());
  }).detach();
  if (first.wait_for(kWait) != std::future_status::ready) return 5;
  std::cout << "enumerating" << std::endl;
  std::string line;
  std::getline(std::cin, line);
  std::_Exit(0);  // the enumeration still runs on its thread
}

// Never returns: the test kills this process while its Next waits in the server.
int waitInNextOrSkip(IWbemServices* ns, bool skip) {
  ComPtr<IWbemProviderInit> init;
  if (FAILED(CoCreateInstance(veltwmi::test::CLSID_GadgetProvider, nullptr, CLSCTX_LOCAL_SERVER,
                              IID_IWbemProviderInit, reinterpret_cast<void**>(init.put())))) {
    return 3;
  }
  velt::test::InitStatusSink initStatus;
  std::u16string nameSpace = u"root\\test";
  init->Initialize(nullptr, 0, nameSpace.data(), nullptr, ns, nullptr, &initStatus);
  ComPtr<IWbemServices> provider;
  init->QueryInterface(IID_IWbemServices, reinterpret_cast<void**>(provider.put()));
  if (!provider) return 3;
  // A gadget every 200 ms for a million gadgets: the wait below is for 10000 of them.
  ComPtr<IWbemContext> context =
      veltwmi::test::gadgetContext({{u"GadgetCount", 1000000}, {u"GadgetPauseMs", 200}});
  const velt::UniqueBstr className = velt::bstrFromUtf16(u"Gadget");
  ComPtr<IEnumWbemClassObject> enumerator;
  if (FAILED(provider->CreateInstanceEnum(className.get(),
                                          WBEM_FLAG_RETURN_IMMEDIATELY | WBEM_FLAG_FORWARD_ONLY,
                                          context.get(), enumerator.put()))) {
    return 4;
  }
  std::cout << "waiting" << std::endl;
  if (skip) {
    enumerator->Skip(LONG(WBEM_INFINITE), 10000);
  } else {
    std::vector<IWbemClassObject*> objects(10000, nullptr);
    ULONG returned = 0;
    enumerator->Next(LONG(WBEM_INFINITE), 10000, objects.data(), &returned);
  }
  return 5;
}

}  // namespace

int main(int argc, char** argv) {
  std::string mode = argc > 1 ? argv[1] : "";
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 2;
  int code = 0;
  {
    velt::wmi::Service service;
    service.loadMofText(veltwmi::test::kGadgetMof, "gadgets.mof");
    ComPtr<IWbemServices> ns;
    if (FAILED(service.openNamespace(u"root\\test", ns.put()))) return 2;
    if (mode == "watch") {
      ComPtr<RecordingSink> events(RecordingSink::create());
      if (velt::wmi::test::subscribe(ns.get(), events.get()) != WBEM_S_NO_ERROR) return 3;
      ComPtr<IWbemClassObject> mine = veltwmi::test::newGadget(ns.get(), u"watcher", 1);
      runRequest(
          [&](IWbemObjectSink* s) { return ns->PutInstanceAsync(mine.get(), 0, nullptr, s); });
      if (!events->waitForObjects(1, kWait)) return 4;
      std::cout << "watching" << std::endl;
      std::string line;
      std::getline(std::cin, line);
    } else if (mode == "enumerate" && argc > 3) {
      return enumerate(ns.get(), std::stol(argv[2]), std::string(argv[3]) == "hold");
    } else if (mode == "next" || mode == "skip") {
      std::_Exit(waitInNextOrSkip(ns.get(), mode == "skip"));
    } else if (mode == "mixed") {
      const std::u16string me = u"c" + velt::utf16FromUtf8(std::to_string(getpid()));
      code = velt::wmi::test::mixedRequests(ns.get(), me, argc > 2 ? std::stoi(argv[2]) : 5) == 0
                 ? 0
                 : 1;
    } else {
      code = 2;
    }
    ns = {};
    service.shutdown();
  }
  CoUninitialize();
  return code;
}
