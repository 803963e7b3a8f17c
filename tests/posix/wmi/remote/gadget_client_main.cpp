// A client of the gadget provider in a process of its own, for the tests of many clients on
// one server and of clients that vanish.
//   watch: subscribes to the gadgets' events, says "watching" once one arrived, then waits on
//          its standard input.
//   mixed N: N rounds of get, write, enumerate, call and a short subscription, each checked;
//          exit code 0 when every outcome was right.
//   enumerate N hold|flow: enumerates N made-up gadgets, says "enumerating" once the first
//          arrived, then waits on its standard input; its sink either holds the first gadget's
//          call (so the server waits for room) or takes every gadget as it comes.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <future>
#include <iostream>
#include <string>
#include <thread>

#include "gadget_provider.h"
#include "wmi_model/com_object.h"
#include "wmi_model/objects.h"
#include "wmi_model/recording_sink.h"
#include "wmi_model/variant_value.h"
#include "wmi_test_support.h"

namespace {

using velt::ComPtr;
using velt::wmi::RecordingSink;
using velt::wmi::test::runRequest;
constexpr auto kWait = std::chrono::seconds(30);

int failures = 0;
void check(bool right, const char* what) {
  if (right) return;
  std::fprintf(stderr, "wrong: %s\n", what);
  ++failures;
}

ComPtr<IWbemClassObject> gadget(IWbemServices* ns, const std::u16string& name, LONG size) {
  ComPtr<IWbemClassObject> cls(velt::wmi::test::classOf(ns, u"Gadget"));
  ComPtr<IWbemClassObject> instance;
  if (cls) cls->SpawnInstance(0, instance.put());
  if (instance) {
    velt::wmi::test::putText(instance.get(), u"Name", name.c_str());
    velt::wmi::test::putInt(instance.get(), u"Size", size);
  }
  return instance;
}

LONG number(IWbemClassObject* object, const char16_t* name) {
  velt::OwnedVariant value;
  object->Get(name, 0, value.get(), nullptr, nullptr);
  return value.value().vt == VT_I4 ? value.value().lVal : -1;
}

void mixed(IWbemServices* ns, int rounds) {
  const std::u16string me = u"c" + velt::utf16FromUtf8(std::to_string(getpid()));
  const velt::UniqueBstr className = velt::bstrFromUtf16(u"Gadget"),
                         grow = velt::bstrFromUtf16(u"Grow");
  for (int round = 0; round < rounds; ++round) {
    ComPtr<RecordingSink> events(RecordingSink::create());
    check(velt::wmi::test::subscribe(ns, events.get()) == WBEM_S_NO_ERROR, "subscribe");
    ComPtr<IWbemClassObject> mine = gadget(ns, me, round);
    check(runRequest([&](IWbemObjectSink* s) {
            return ns->PutInstanceAsync(mine.get(), 0, nullptr, s);
          }) == WBEM_S_NO_ERROR,
          "put");
    const velt::UniqueBstr path = velt::bstrFromUtf16(u"Gadget.Name=\"" + me + u"\"");
    ComPtr<RecordingSink> got;
    check(runRequest(
              [&](IWbemObjectSink* s) { return ns->GetObjectAsync(path.get(), 0, nullptr, s); },
              &got) == WBEM_S_NO_ERROR,
          "get");
    check(got && got->objects().size() == 1 && number(got->objects()[0], u"Size") == round,
          "the value written comes back");
    check(runRequest(
              [&](IWbemObjectSink* s) {
                return ns->CreateInstanceEnumAsync(className.get(), 0, nullptr, s);
              },
              &got) == WBEM_S_NO_ERROR,
          "enumerate");
    check(got && got->objects().size() >= 4, "every gadget listed");
    ComPtr<IWbemClassObject> cls(velt::wmi::test::classOf(ns, u"Gadget"));
    ComPtr<IWbemClassObject> inDefinition, in;
    cls->GetMethod(u"Grow", 0, inDefinition.put(), nullptr);
    inDefinition->SpawnInstance(0, in.put());
    velt::wmi::test::putInt(in.get(), u"By", round);
    check(runRequest(
              [&](IWbemObjectSink* s) {
                return ns->ExecMethodAsync(path.get(), grow.get(), 0, nullptr, in.get(), s);
              },
              &got) == WBEM_S_NO_ERROR,
          "call");
    check(got && got->objects().size() == 1 && number(got->objects()[0], u"NewSize") == 10 + round,
          "the method's answer");
    check(events->waitForObjects(1, kWait), "an event for the write");
    check(ns->CancelAsyncCall(events.get()) == WBEM_S_NO_ERROR, "cancel");
  }
}

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
      ComPtr<IWbemClassObject> mine = gadget(ns.get(), u"watcher", 1);
      runRequest(
          [&](IWbemObjectSink* s) { return ns->PutInstanceAsync(mine.get(), 0, nullptr, s); });
      if (!events->waitForObjects(1, kWait)) return 4;
      std::cout << "watching" << std::endl;
      std::string line;
      std::getline(std::cin, line);
    } else if (mode == "enumerate" && argc > 3) {
      return enumerate(ns.get(), std::stol(argv[2]), std::string(argv[3]) == "hold");
    } else if (mode == "mixed") {
      mixed(ns.get(), argc > 2 ? std::stoi(argv[2]) : 5);
      code = failures == 0 ? 0 : 1;
    } else {
      code = 2;
    }
    ns = {};
    service.shutdown();
  }
  CoUninitialize();
  return code;
}
