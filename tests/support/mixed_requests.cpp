#include "mixed_requests.h"

#include <owners/com_ptr.h>
#include <owners/unique_handle.h>
#include <owners/utf_text.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "gadget_provider.h"
#include "wmi_model/recording_sink.h"
#include "wmi_test_support.h"

namespace velt::wmi::test {
namespace {

constexpr auto kWait = std::chrono::seconds(30);

bool isGadget(IWbemClassObject* object, const std::u16string& name, LONG size) {
  return getText(object, u"Name") == name && getInt(object, u"Size") == size;
}

// Whether `sink` received the event of `name` written with `size`, among those of every other
// client's writes.
bool sawEvent(RecordingSink* sink, const std::u16string& name, LONG size) {
  const auto deadline = std::chrono::steady_clock::now() + kWait;
  do {
    for (IWbemClassObject* event : sink->objects()) {
      if (isGadget(event, name, size)) return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  } while (std::chrono::steady_clock::now() < deadline);
  return false;
}

}  // namespace

int mixedRequests(IWbemServices* ns, const std::u16string& me, int rounds) {
  int failures = 0;
  auto check = [&failures](bool right, const char* what, int round) {
    if (right) return;
    std::fprintf(stderr, "wrong in round %d: %s\n", round, what);
    ++failures;
  };
  const UniqueBstr wql = bstrFromUtf16(u"WQL"),
                   mine =
                       bstrFromUtf16(u"select Name, Size from Gadget where Name = '" + me + u"'"),
                   className = bstrFromUtf16(u"Gadget"), grow = bstrFromUtf16(u"Grow"),
                   path = bstrFromUtf16(u"Gadget.Name=\"" + me + u"\"");
  ComPtr<IWbemClassObject> cls(classOf(ns, u"Gadget"));
  if (!cls) {
    check(false, "the class", 0);
    return failures;
  }
  for (int round = 0; round < rounds; ++round) {
    ComPtr<RecordingSink> watch(RecordingSink::create());
    check(subscribe(ns, watch.get()) == WBEM_S_NO_ERROR, "subscribe", round);
    ComPtr<IWbemClassObject> gadget = veltwmi::test::newGadget(ns, me, round);
    check(runRequest([&](IWbemObjectSink* s) {
            return ns->PutInstanceAsync(gadget.get(), 0, nullptr, s);
          }) == WBEM_S_NO_ERROR,
          "put", round);

    ComPtr<RecordingSink> got;
    check(runRequest(
              [&](IWbemObjectSink* s) { return ns->GetObjectAsync(path.get(), 0, nullptr, s); },
              &got) == WBEM_S_NO_ERROR,
          "get", round);
    check(got && got->objects().size() == 1 && getInt(got->objects()[0], u"Size") == round,
          "the value written comes back", round);

    check(runRequest(
              [&](IWbemObjectSink* s) {
                return ns->CreateInstanceEnumAsync(className.get(), 0, nullptr, s);
              },
              &got) == WBEM_S_NO_ERROR,
          "enumerate", round);
    bool listed = false;
    for (IWbemClassObject* object : got ? got->objects() : std::vector<IWbemClassObject*>{}) {
      listed = listed || isGadget(object, me, round);
    }
    check(listed && got->objects().size() >= 4, "every gadget listed, this one as written", round);

    check(runRequest(
              [&](IWbemObjectSink* s) {
                return ns->ExecQueryAsync(wql.get(), mine.get(), 0, nullptr, s);
              },
              &got) == WBEM_S_NO_ERROR,
          "query", round);
    check(got && got->objects().size() == 1 && isGadget(got->objects()[0], me, round),
          "the query selects this gadget alone", round);

    ComPtr<IWbemClassObject> inDefinition, in;
    cls->GetMethod(u"Grow", 0, inDefinition.put(), nullptr);
    if (inDefinition) inDefinition->SpawnInstance(0, in.put());
    if (in) putInt(in.get(), u"By", round);
    check(in && runRequest(
                    [&](IWbemObjectSink* s) {
                      return ns->ExecMethodAsync(path.get(), grow.get(), 0, nullptr, in.get(), s);
                    },
                    &got) == WBEM_S_NO_ERROR,
          "call", round);
    check(got && got->objects().size() == 1 && getInt(got->objects()[0], u"NewSize") == 10 + round,
          "the method's answer", round);

    check(sawEvent(watch.get(), me, round), "the event of this client's write", round);
    check(ns->CancelAsyncCall(watch.get()) == WBEM_S_NO_ERROR, "cancel", round);
    check(watch->waitForFinalStatus(kWait) == WBEM_E_CALL_CANCELLED,
          "the subscription ends as cancelled", round);
  }
  return failures;
}

}  // namespace velt::wmi::test
