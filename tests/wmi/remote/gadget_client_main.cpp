// A client of the gadget provider in a process of its own, for the tests of many clients on
// one server and of clients that vanish.
//   watch: subscribes to the gadgets' events, says "watching" once one arrived, then waits on
//          its standard input.
//   mixed N: N rounds of get, write, enumerate, call and a short subscription, each checked;
//          exit code 0 when every outcome was right.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>

#include "gadget_provider.h"
#include "wmi_model/com_object.h"
#include "wmi_model/recording_sink.h"
#include "wmi_model/variant_value.h"
#include "wmi_test_support.h"

namespace {

using velt::wmi::RecordingSink;
using velt::wmi::detail::ComPtr;
using velt::wmi::test::Bstr;
constexpr auto kWait = std::chrono::seconds(30);

int failures = 0;
void check(bool right, const char* what) {
  if (right) return;
  std::fprintf(stderr, "wrong: %s\n", what);
  ++failures;
}

template <class Call>
HRESULT run(Call call, ComPtr<RecordingSink>* keep = nullptr) {
  ComPtr<RecordingSink> sink(RecordingSink::create());
  HRESULT started = call(sink.get());
  if (FAILED(started)) return started;
  HRESULT status = sink->waitForFinalStatus(kWait).value_or(E_UNEXPECTED);
  if (keep) *keep = sink;
  return status;
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
  velt::wmi::test::Var value;
  object->Get(name, 0, &value.v, nullptr, nullptr);
  return value.v.vt == VT_I4 ? value.v.lVal : -1;
}

void mixed(IWbemServices* ns, int rounds) {
  const std::u16string me = u"c" + velt::wmi::detail::utf16FromUtf8(std::to_string(getpid()));
  Bstr wql(u"WQL"), query(u"select * from GadgetChanged"), className(u"Gadget"), grow(u"Grow");
  for (int round = 0; round < rounds; ++round) {
    ComPtr<RecordingSink> events(RecordingSink::create());
    check(ns->ExecNotificationQueryAsync(wql, query, 0, nullptr, events.get()) == WBEM_S_NO_ERROR,
          "subscribe");
    ComPtr<IWbemClassObject> mine = gadget(ns, me, round);
    check(run([&](IWbemObjectSink* s) {
            return ns->PutInstanceAsync(mine.get(), 0, nullptr, s);
          }) == WBEM_S_NO_ERROR,
          "put");
    Bstr path((u"Gadget.Name=\"" + me + u"\"").c_str());
    ComPtr<RecordingSink> got;
    check(run([&](IWbemObjectSink* s) { return ns->GetObjectAsync(path, 0, nullptr, s); }, &got) ==
              WBEM_S_NO_ERROR,
          "get");
    check(got && got->objects().size() == 1 && number(got->objects()[0], u"Size") == round,
          "the value written comes back");
    check(run(
              [&](IWbemObjectSink* s) {
                return ns->CreateInstanceEnumAsync(className, 0, nullptr, s);
              },
              &got) == WBEM_S_NO_ERROR,
          "enumerate");
    check(got && got->objects().size() >= 4, "every gadget listed");
    ComPtr<IWbemClassObject> cls(velt::wmi::test::classOf(ns, u"Gadget"));
    ComPtr<IWbemClassObject> inDefinition, in;
    cls->GetMethod(u"Grow", 0, inDefinition.put(), nullptr);
    inDefinition->SpawnInstance(0, in.put());
    velt::wmi::test::putInt(in.get(), u"By", round);
    check(run(
              [&](IWbemObjectSink* s) {
                return ns->ExecMethodAsync(path, grow, 0, nullptr, in.get(), s);
              },
              &got) == WBEM_S_NO_ERROR,
          "call");
    check(got && got->objects().size() == 1 && number(got->objects()[0], u"NewSize") == 10 + round,
          "the method's answer");
    check(events->waitForObjects(1, kWait), "an event for the write");
    check(ns->CancelAsyncCall(events.get()) == WBEM_S_NO_ERROR, "cancel");
  }
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
      Bstr wql(u"WQL"), query(u"select * from GadgetChanged");
      ComPtr<RecordingSink> events(RecordingSink::create());
      if (ns->ExecNotificationQueryAsync(wql, query, 0, nullptr, events.get()) != WBEM_S_NO_ERROR)
        return 3;
      ComPtr<IWbemClassObject> mine = gadget(ns.get(), u"watcher", 1);
      run([&](IWbemObjectSink* s) { return ns->PutInstanceAsync(mine.get(), 0, nullptr, s); });
      if (!events->waitForObjects(1, kWait)) return 4;
      std::cout << "watching" << std::endl;
      std::string line;
      std::getline(std::cin, line);
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
