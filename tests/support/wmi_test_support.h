#pragma once

#include <chrono>
#include <string>
#include <vector>

#include <owners/com_ptr.h>
#include <owners/owned_variant.h>
#include <owners/unique_handle.h>
#include <owners/utf_text.h>

#include <wbemcli.h>

#include "wmi/service.h"
#include "wmi_model/recording_sink.h"
#include "wmi_model/variant_value.h"

namespace velt::wmi::test {

// A MOF with every CIM type, keys, a method, inheritance and a singleton.
extern const char* const kTestMof;

std::u16string getText(IWbemClassObject* object, const char16_t* name);
IWbemClassObject* classOf(IWbemServices* ns, const char16_t* name);  // one reference
HRESULT putText(IWbemClassObject* object, const char16_t* name, const char16_t* value);
HRESULT putInt(IWbemClassObject* object, const char16_t* name, LONG value);
// The value of a property held as VT_I4, or -1.
LONG getInt(IWbemClassObject* object, const char16_t* name);
// The texts of a one-dimensional BSTR array, which this takes over.
std::vector<std::u16string> namesIn(SAFEARRAY* array);
// The property names GetNames answers for `flags` (and `qualifier`), or {"<failed>"}.
std::vector<std::u16string> namesOf(IWbemClassObject* object, LONG flags,
                                    const char16_t* qualifier = nullptr);
// A value as "vt:element,element,..." with reals to their last digit: two values read alike only
// when their types and all their elements are equal.
std::string valueText(const detail::Variant& value);
// Subscribes `sink` to the events `query` selects.
HRESULT subscribe(IWbemServices* ns, IWbemObjectSink* sink,
                  const char16_t* query = u"select * from GadgetChanged");

// Starts an asynchronous request on a sink of its own and answers its final status: the call's
// own failure when it did not start, E_UNEXPECTED when no final status came within `wait`. The
// sink stays in `*keep` when asked for.
template <class Call>
HRESULT runRequest(Call call, ComPtr<RecordingSink>* keep = nullptr,
                   std::chrono::seconds wait = std::chrono::seconds(30)) {
  ComPtr<RecordingSink> sink(RecordingSink::create());
  HRESULT started = call(sink.get());
  if (FAILED(started)) return started;
  HRESULT status = sink->waitForFinalStatus(wait).value_or(E_UNEXPECTED);
  if (keep) *keep = sink;
  return status;
}

}  // namespace velt::wmi::test
