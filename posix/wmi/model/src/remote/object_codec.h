// WMI objects, contexts and values as they cross between processes: by value, into objects
// of this library on the other side.
#pragma once

#include <velt/wmi.capnp.h>
#include <wbemcli.h>

#include <string>
#include <utility>

#include "stream_layouts.h"
#include "wmi_model/com_object.h"
#include "wmi_model/variant_value.h"

namespace velt::wmi::remote {

// Fails (WBEM_E_INVALID_OBJECT) for an object that is neither of this library nor readable
// through its interface. With the layouts of a stream, an object whose layout the stream
// already carried goes with its number alone (objects embedded in values always go whole).
HRESULT writeObject(IWbemClassObject* object, rpc::WbemObject::Builder out,
                    SentLayouts* layouts = nullptr);
// Fails (WBEM_E_INVALID_OBJECT) for a malformed object, a layout number the stream never
// defined among them. Every object read is a copy of its own; those of one stream share their
// layout, which no object changes in place.
HRESULT readObject(rpc::WbemObject::Reader in, velt::ComPtr<IWbemClassObject>& out,
                   ReceivedLayouts* layouts = nullptr);

HRESULT writeContext(IWbemContext* context, rpc::Context::Builder out);
HRESULT readContext(rpc::Context::Reader in, velt::ComPtr<IWbemContext>& out);

HRESULT writeValue(const VARIANT& value, rpc::Value::Builder out);
HRESULT readValue(rpc::Value::Reader in, detail::Variant& out);

// Strings keep the difference between null and empty: null leaves the field unset.
kj::ArrayPtr<const capnp::byte> textBytes(const OLECHAR* text);
kj::ArrayPtr<const capnp::byte> textBytes(const std::u16string& text);
std::u16string textFrom(capnp::Data::Reader data);

// An owned BSTR read from a field that may be unset (then null).
class ReceivedText {
 public:
  ReceivedText() = default;
  ReceivedText(bool present, capnp::Data::Reader data);
  ReceivedText(ReceivedText&& other) noexcept : m_text(other.m_text) { other.m_text = nullptr; }
  ReceivedText& operator=(ReceivedText&& other) noexcept;
  ReceivedText(const ReceivedText&) = delete;
  ReceivedText& operator=(const ReceivedText&) = delete;
  ~ReceivedText();
  BSTR get() const { return m_text; }
  // Hands the string to the caller, who frees it.
  BSTR release() { return std::exchange(m_text, nullptr); }

 private:
  BSTR m_text = nullptr;
};

}  // namespace velt::wmi::remote
