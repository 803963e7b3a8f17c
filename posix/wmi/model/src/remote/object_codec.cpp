#include "object_codec.h"

#include <cstring>
#include <optional>

#include "known_layouts.h"
#include "wmi_model/class_object.h"
#include "wmi_model/objects.h"

namespace velt::wmi::remote {
namespace {

using detail::ClassLayout;
using detail::MethodDef;
using detail::ObjectState;
using detail::PropertyDef;
using detail::Qualifier;
using detail::Qualifiers;
using detail::Variant;
using velt::ComPtr;

// Straight from the message's bytes: one copy, not one into a string and another into the BSTR.
// A stray odd byte is dropped, as textFrom drops it.
BSTR bstrFrom(capnp::Data::Reader data) {
  const size_t bytes = data.size() - data.size() % sizeof(OLECHAR);
  return SysAllocStringByteLen(reinterpret_cast<LPCSTR>(data.begin()), UINT(bytes));
}

// An object nests in itself only through values and method signatures; a depth this large is
// a malformed message, not a class.
constexpr int kMaxDepth = 64;

HRESULT writeObjectAt(IWbemClassObject* object, rpc::WbemObject::Builder out, int depth,
                      SentLayouts* layouts);
HRESULT readObjectAt(rpc::WbemObject::Reader in, ComPtr<IWbemClassObject>& out, int depth,
                     ReceivedLayouts* layouts);
HRESULT writeValueAt(const VARIANT& value, rpc::Value::Builder out, int depth);
HRESULT readValueAt(rpc::Value::Reader in, Variant& out, int depth);
HRESULT readLayout(rpc::Layout::Reader in, std::shared_ptr<const ClassLayout>& out, int depth);
std::optional<ObjectState> stateThroughInterface(IWbemClassObject* object, int depth);

HRESULT writeQualifiers(const Qualifiers& qualifiers, capnp::List<rpc::Qualifier>::Builder out,
                        int depth) {
  for (unsigned i = 0; i < qualifiers.size(); ++i) {
    out[i].setName(textBytes(qualifiers[i].name));
    out[i].setFlavor(qualifiers[i].flavor);
    HRESULT hr = writeValueAt(*qualifiers[i].value.get(), out[i].initValue(), depth);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT readQualifiers(capnp::List<rpc::Qualifier>::Reader in, Qualifiers& out, int depth) {
  for (auto q : in) {
    Qualifier qualifier;
    qualifier.name = textFrom(q.getName());
    qualifier.flavor = q.getFlavor();
    HRESULT hr = readValueAt(q.getValue(), qualifier.value, depth);
    if (FAILED(hr)) return hr;
    out.push_back(std::move(qualifier));
  }
  return S_OK;
}

HRESULT writeLayout(const ClassLayout& layout, rpc::Layout::Builder out, int depth) {
  if (depth > kMaxDepth) return WBEM_E_INVALID_OBJECT;
  out.setName(textBytes(layout.name));
  auto derivation = out.initDerivation(unsigned(layout.derivation.size()));
  for (unsigned i = 0; i < layout.derivation.size(); ++i) {
    derivation.set(i, textBytes(layout.derivation[i]));
  }
  HRESULT hr = writeQualifiers(layout.qualifiers,
                               out.initQualifiers(unsigned(layout.qualifiers.size())), depth);
  if (FAILED(hr)) return hr;
  auto properties = out.initProperties(unsigned(layout.properties.size()));
  for (unsigned i = 0; i < layout.properties.size(); ++i) {
    const PropertyDef& p = layout.properties[i];
    properties[i].setName(textBytes(p.name));
    properties[i].setType(p.type);
    properties[i].setOrigin(textBytes(p.originClass));
    hr = writeQualifiers(p.qualifiers, properties[i].initQualifiers(unsigned(p.qualifiers.size())),
                         depth);
    if (SUCCEEDED(hr))
      hr = writeValueAt(*p.defaultValue.get(), properties[i].initDefaultValue(), depth);
    if (FAILED(hr)) return hr;
  }
  auto methods = out.initMethods(unsigned(layout.methods.size()));
  for (unsigned i = 0; i < layout.methods.size(); ++i) {
    const MethodDef& m = layout.methods[i];
    methods[i].setName(textBytes(m.name));
    methods[i].setOrigin(textBytes(m.originClass));
    hr = writeQualifiers(m.qualifiers, methods[i].initQualifiers(unsigned(m.qualifiers.size())),
                         depth);
    if (SUCCEEDED(hr) && m.inParameters) {
      hr = writeLayout(*m.inParameters, methods[i].initInParameters(), depth + 1);
    }
    if (SUCCEEDED(hr) && m.outParameters) {
      hr = writeLayout(*m.outParameters, methods[i].initOutParameters(), depth + 1);
    }
    if (FAILED(hr)) return hr;
  }
  out.setServer(textBytes(layout.server));
  out.setNameSpace(textBytes(layout.nameSpace));
  return S_OK;
}

HRESULT readLayout(rpc::Layout::Reader in, std::shared_ptr<const ClassLayout>& out, int depth) {
  if (depth > kMaxDepth) return WBEM_E_INVALID_OBJECT;
  auto layout = std::make_shared<ClassLayout>();
  layout->name = textFrom(in.getName());
  for (auto base : in.getDerivation()) layout->derivation.push_back(textFrom(base));
  HRESULT hr = readQualifiers(in.getQualifiers(), layout->qualifiers, depth);
  if (FAILED(hr)) return hr;
  for (auto p : in.getProperties()) {
    PropertyDef property;
    property.name = textFrom(p.getName());
    property.type = p.getType();
    property.originClass = textFrom(p.getOrigin());
    hr = readQualifiers(p.getQualifiers(), property.qualifiers, depth);
    if (SUCCEEDED(hr)) hr = readValueAt(p.getDefaultValue(), property.defaultValue, depth);
    if (FAILED(hr)) return hr;
    layout->properties.push_back(std::move(property));
  }
  for (auto m : in.getMethods()) {
    MethodDef method;
    method.name = textFrom(m.getName());
    method.originClass = textFrom(m.getOrigin());
    hr = readQualifiers(m.getQualifiers(), method.qualifiers, depth);
    if (SUCCEEDED(hr) && m.hasInParameters()) {
      hr = readLayout(m.getInParameters(), method.inParameters, depth + 1);
    }
    if (SUCCEEDED(hr) && m.hasOutParameters()) {
      hr = readLayout(m.getOutParameters(), method.outParameters, depth + 1);
    }
    if (FAILED(hr)) return hr;
    layout->methods.push_back(std::move(method));
  }
  layout->server = textFrom(in.getServer());
  layout->nameSpace = textFrom(in.getNameSpace());
  out = std::move(layout);
  return S_OK;
}

HRESULT writeState(const detail::ObjectView& state, rpc::WbemObject::Builder out, int depth,
                   SentLayouts* layouts) {
  out.setGenus(state.genus);
  const SentLayouts::Numbered numbered =
      layouts != nullptr ? layouts->number(state.layout) : SentLayouts::Numbered{};
  out.setLayoutId(numbered.id);
  HRESULT hr = S_OK;
  if (numbered.id == 0 || numbered.first) hr = writeLayout(*state.layout, out.initLayout(), depth);
  if (FAILED(hr)) return hr;
  auto values = out.initValues(unsigned(state.values.size()));
  for (unsigned i = 0; i < state.values.size(); ++i) {
    hr = writeValueAt(*state.values[i].get(), values[i], depth);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

struct WriteInPlace {
  rpc::WbemObject::Builder out;
  int depth;
  SentLayouts* layouts;
};

HRESULT writeObjectAt(IWbemClassObject* object, rpc::WbemObject::Builder out, int depth,
                      SentLayouts* layouts) {
  if (object == nullptr || depth > kMaxDepth) return WBEM_E_INVALID_OBJECT;
  // Encoded where the values are: no copy of each string to throw away once written.
  WriteInPlace place{out, depth, layouts};
  std::optional<HRESULT> written = detail::withStateOf(
      object,
      [](const detail::ObjectView& state, void* context) {
        auto* p = static_cast<WriteInPlace*>(context);
        return writeState(state, p->out, p->depth, p->layouts);
      },
      &place);
  if (written) return *written;
  std::optional<ObjectState> state = detail::stateOf(object);
  if (!state) {
    // Read through the interface, the layout is a new one each time: numbering it would only
    // fill the stream's table.
    layouts = nullptr;
    state = stateThroughInterface(object, depth);
  }
  if (!state) return WBEM_E_INVALID_OBJECT;
  return writeState(detail::ObjectView{state->layout, state->genus, state->values}, out, depth,
                    layouts);
}

// A layout carried whole: the one this process already read with the same content, else a
// new one it remembers.
HRESULT readKnownLayout(rpc::Layout::Reader in, std::shared_ptr<const ClassLayout>& out,
                        int depth) {
  KnownLayouts& known = knownLayouts();
  std::string key = KnownLayouts::keyOf(in);
  if (!key.empty()) {
    out = known.find(key);
    if (out) return S_OK;
  }
  HRESULT hr = readLayout(in, out, depth);
  if (SUCCEEDED(hr)) known.remember(std::move(key), out);
  return hr;
}

// The object's layout: carried whole, or named by its number in the stream.
HRESULT readObjectLayout(rpc::WbemObject::Reader in, std::shared_ptr<const ClassLayout>& out,
                         int depth, ReceivedLayouts* layouts) {
  const uint32_t id = in.getLayoutId();
  if (!in.hasLayout()) {
    out = id != 0 && layouts != nullptr ? layouts->find(id) : nullptr;
    return out ? S_OK : WBEM_E_INVALID_OBJECT;
  }
  HRESULT hr = readKnownLayout(in.getLayout(), out, depth);
  if (FAILED(hr)) return hr;
  if (id != 0 && (layouts == nullptr || !layouts->define(id, out))) return WBEM_E_INVALID_OBJECT;
  return S_OK;
}

HRESULT readObjectAt(rpc::WbemObject::Reader in, ComPtr<IWbemClassObject>& out, int depth,
                     ReceivedLayouts* layouts) {
  if (depth > kMaxDepth) return WBEM_E_INVALID_OBJECT;
  ObjectState state;
  state.genus = WBEM_GENUS_TYPE(in.getGenus());
  HRESULT hr = readObjectLayout(in, state.layout, depth, layouts);
  if (FAILED(hr)) return hr;
  if (in.getValues().size() != state.layout->properties.size()) return WBEM_E_INVALID_OBJECT;
  state.values.reserve(state.layout->properties.size());
  for (auto value : in.getValues()) {
    Variant v;
    hr = readValueAt(value, v, depth);
    if (FAILED(hr)) return hr;
    state.values.push_back(std::move(v));
  }
  out = detail::makeObject(std::move(state));
  return out ? S_OK : WBEM_E_INVALID_OBJECT;
}

// ---- objects of other implementations, read through IWbemClassObject ----

Qualifiers qualifiersOf(IWbemQualifierSet* set) {
  Qualifiers out;
  if (set == nullptr || FAILED(set->BeginEnumeration(0))) return out;
  for (;;) {
    BSTR name = nullptr;
    Qualifier q;
    if (set->Next(0, &name, q.value.get(), &q.flavor) != WBEM_S_NO_ERROR) break;
    q.name = name ? std::u16string(name, SysStringLen(name)) : u"";
    SysFreeString(name);
    out.push_back(std::move(q));
  }
  set->EndEnumeration();
  return out;
}

std::u16string textProperty(IWbemClassObject* object, const OLECHAR* name) {
  Variant v;
  if (FAILED(object->Get(name, 0, v.get(), nullptr, nullptr))) return {};
  return v.asText();
}

std::shared_ptr<const ClassLayout> signatureLayout(IWbemClassObject* parameters, int depth) {
  if (parameters == nullptr) return nullptr;
  auto state = stateThroughInterface(parameters, depth + 1);
  return state ? state->layout : nullptr;
}

std::optional<ObjectState> stateThroughInterface(IWbemClassObject* object, int depth) {
  if (depth > kMaxDepth) return std::nullopt;
  ObjectState state;
  auto layout = std::make_shared<ClassLayout>();
  layout->name = textProperty(object, u"__CLASS");
  layout->server = textProperty(object, u"__SERVER");
  layout->nameSpace = textProperty(object, u"__NAMESPACE");
  Variant genus;
  if (SUCCEEDED(object->Get(u"__GENUS", 0, genus.get(), nullptr, nullptr)) && genus.vt() == VT_I4 &&
      genus.get()->lVal == WBEM_GENUS_CLASS) {
    state.genus = WBEM_GENUS_CLASS;
  }
  Variant derivation;
  std::vector<Variant> bases;
  if (SUCCEEDED(object->Get(u"__DERIVATION", 0, derivation.get(), nullptr, nullptr)) &&
      (derivation.vt() & VT_ARRAY) && SUCCEEDED(detail::readElements(*derivation.get(), bases))) {
    for (const Variant& base : bases) layout->derivation.push_back(base.asText());
  }
  IWbemQualifierSet* set = nullptr;
  if (SUCCEEDED(object->GetQualifierSet(&set)) && set != nullptr) {
    layout->qualifiers = qualifiersOf(set);
    set->Release();
  }
  SAFEARRAY* names = nullptr;
  if (FAILED(object->GetNames(nullptr, WBEM_FLAG_ALWAYS | WBEM_FLAG_NONSYSTEM_ONLY, nullptr,
                              &names)) ||
      names == nullptr) {
    return std::nullopt;
  }
  VARIANT list;
  VariantInit(&list);
  list.vt = VT_ARRAY | VT_BSTR;
  list.parray = names;
  std::vector<Variant> propertyNames;
  HRESULT hr = detail::readElements(list, propertyNames);
  VariantClear(&list);
  if (FAILED(hr)) return std::nullopt;
  for (const Variant& n : propertyNames) {
    std::u16string name = n.asText();
    PropertyDef property;
    property.name = name;
    Variant value;
    if (FAILED(object->Get(name.c_str(), 0, value.get(), &property.type, nullptr))) continue;
    IWbemQualifierSet* propertySet = nullptr;
    if (SUCCEEDED(object->GetPropertyQualifierSet(name.c_str(), &propertySet)) && propertySet) {
      property.qualifiers = qualifiersOf(propertySet);
      propertySet->Release();
    }
    BSTR origin = nullptr;
    if (SUCCEEDED(object->GetPropertyOrigin(name.c_str(), &origin)) && origin != nullptr) {
      property.originClass = std::u16string(origin, SysStringLen(origin));
    } else {
      property.originClass = layout->name;
    }
    SysFreeString(origin);
    if (state.genus == WBEM_GENUS_CLASS) property.defaultValue = value;
    layout->properties.push_back(std::move(property));
    state.values.push_back(std::move(value));
  }
  if (SUCCEEDED(object->BeginMethodEnumeration(0))) {
    for (;;) {
      BSTR name = nullptr;
      IWbemClassObject* in = nullptr;
      IWbemClassObject* out = nullptr;
      if (object->NextMethod(0, &name, &in, &out) != WBEM_S_NO_ERROR) break;
      MethodDef method;
      method.name = name ? std::u16string(name, SysStringLen(name)) : u"";
      method.originClass = layout->name;
      method.inParameters = signatureLayout(in, depth);
      method.outParameters = signatureLayout(out, depth);
      IWbemQualifierSet* methodSet = nullptr;
      if (SUCCEEDED(object->GetMethodQualifierSet(name, &methodSet)) && methodSet) {
        method.qualifiers = qualifiersOf(methodSet);
        methodSet->Release();
      }
      SysFreeString(name);
      if (in) in->Release();
      if (out) out->Release();
      layout->methods.push_back(std::move(method));
    }
    object->EndMethodEnumeration();
  }
  state.layout = std::move(layout);
  return state;
}

// ---- values ----

HRESULT writeValueAt(const VARIANT& v, rpc::Value::Builder out, int depth) {
  if (depth > kMaxDepth) return WBEM_E_INVALID_OBJECT;
  out.setVt(v.vt);
  if (v.vt & VT_ARRAY) {
    std::vector<Variant> elements;
    if (v.parray == nullptr) {
      out.setNone();
      return S_OK;
    }
    HRESULT hr = detail::readElements(v, elements);
    if (FAILED(hr)) return hr;
    auto list = out.initElements(unsigned(elements.size()));
    for (unsigned i = 0; i < elements.size(); ++i) {
      hr = writeValueAt(*elements[i].get(), list[i], depth);
      if (FAILED(hr)) return hr;
    }
    return S_OK;
  }
  switch (v.vt) {
    case VT_EMPTY:
    case VT_NULL:
      out.setNone();
      return S_OK;
    case VT_I1:
      out.setInteger(v.cVal);
      return S_OK;
    case VT_I2:
      out.setInteger(v.iVal);
      return S_OK;
    case VT_I4:
      out.setInteger(v.lVal);
      return S_OK;
    case VT_INT:
      out.setInteger(v.intVal);
      return S_OK;
    case VT_I8:
      out.setInteger(v.llVal);
      return S_OK;
    case VT_UI1:
      out.setInteger(v.bVal);
      return S_OK;
    case VT_UI2:
      out.setInteger(v.uiVal);
      return S_OK;
    case VT_UI4:
      out.setInteger(v.ulVal);
      return S_OK;
    case VT_UINT:
      out.setInteger(v.uintVal);
      return S_OK;
    case VT_UI8:
      out.setInteger(int64_t(v.ullVal));
      return S_OK;
    case VT_BOOL:
      out.setInteger(v.boolVal);
      return S_OK;
    case VT_R4:
      out.setReal(v.fltVal);
      return S_OK;
    case VT_R8:
      out.setReal(v.dblVal);
      return S_OK;
    case VT_BSTR:
      if (v.bstrVal == nullptr) {
        out.setNone();
      } else {
        out.setText(textBytes(v.bstrVal));
      }
      return S_OK;
    case VT_UNKNOWN:
    case VT_DISPATCH: {
      IUnknown* unknown = v.vt == VT_UNKNOWN ? v.punkVal : reinterpret_cast<IUnknown*>(v.pdispVal);
      if (unknown == nullptr) {
        out.setNone();
        return S_OK;
      }
      IWbemClassObject* embedded = nullptr;
      if (FAILED(
              unknown->QueryInterface(IID_IWbemClassObject, reinterpret_cast<void**>(&embedded)))) {
        return WBEM_E_TYPE_MISMATCH;  // only WMI objects cross by value
      }
      HRESULT hr = writeObjectAt(embedded, out.initObject(), depth + 1, nullptr);
      embedded->Release();
      return hr;
    }
    default:
      return WBEM_E_TYPE_MISMATCH;
  }
}

HRESULT readScalar(rpc::Value::Reader in, VARTYPE vt, VARIANT& v, int depth) {
  const int64_t n = in.isInteger() ? in.getInteger() : 0;
  const double d = in.isReal() ? in.getReal() : 0.0;
  switch (vt) {
    case VT_EMPTY:
    case VT_NULL:
      break;
    case VT_I1:
      v.cVal = CHAR(n);
      break;
    case VT_I2:
      v.iVal = SHORT(n);
      break;
    case VT_I4:
      v.lVal = LONG(n);
      break;
    case VT_INT:
      v.intVal = INT(n);
      break;
    case VT_I8:
      v.llVal = n;
      break;
    case VT_UI1:
      v.bVal = BYTE(n);
      break;
    case VT_UI2:
      v.uiVal = USHORT(n);
      break;
    case VT_UI4:
      v.ulVal = ULONG(n);
      break;
    case VT_UINT:
      v.uintVal = UINT(n);
      break;
    case VT_UI8:
      v.ullVal = ULONGLONG(n);
      break;
    case VT_BOOL:
      v.boolVal = n ? VARIANT_TRUE : VARIANT_FALSE;
      break;
    case VT_R4:
      v.fltVal = float(d);
      break;
    case VT_R8:
      v.dblVal = d;
      break;
    case VT_BSTR: {
      if (!in.isText()) {
        v.bstrVal = nullptr;
        break;
      }
      v.bstrVal = bstrFrom(in.getText());
      if (v.bstrVal == nullptr) return WBEM_E_OUT_OF_MEMORY;
      break;
    }
    case VT_UNKNOWN: {
      v.punkVal = nullptr;
      if (!in.isObject()) break;
      ComPtr<IWbemClassObject> embedded;
      HRESULT hr = readObjectAt(in.getObject(), embedded, depth + 1, nullptr);
      if (FAILED(hr)) return hr;
      v.punkVal = embedded.detach();
      break;
    }
    default:
      return WBEM_E_TYPE_MISMATCH;
  }
  v.vt = vt;
  return S_OK;
}

HRESULT readValueAt(rpc::Value::Reader in, Variant& out, int depth) {
  if (depth > kMaxDepth) return WBEM_E_INVALID_OBJECT;
  out = Variant();
  VARTYPE vt = in.getVt();
  if (vt == VT_DISPATCH) vt = VT_UNKNOWN;  // an embedded object arrives as what it is
  if (!(vt & VT_ARRAY)) return readScalar(in, vt, *out.get(), depth);
  VARTYPE element = VARTYPE(vt & ~VT_ARRAY);
  if (element == VT_DISPATCH) element = VT_UNKNOWN;
  if (!in.isElements()) {
    out.get()->vt = VT_NULL;
    return S_OK;
  }
  auto items = in.getElements();
  SAFEARRAY* array = SafeArrayCreateVector(element, 0, items.size());
  if (array == nullptr) return WBEM_E_TYPE_MISMATCH;
  for (LONG i = 0; i < LONG(items.size()); ++i) {
    Variant item;
    HRESULT hr = readValueAt(items[i], item, depth);
    if (SUCCEEDED(hr) && element != VT_VARIANT && item.vt() != element) hr = WBEM_E_TYPE_MISMATCH;
    if (SUCCEEDED(hr)) {
      VARIANT* v = item.get();
      void* slot = element == VT_VARIANT   ? static_cast<void*>(v)
                   : element == VT_BSTR    ? static_cast<void*>(v->bstrVal)
                   : element == VT_UNKNOWN ? static_cast<void*>(v->punkVal)
                                           : static_cast<void*>(&v->llVal);
      hr = SafeArrayPutElement(array, &i, slot);
    }
    if (FAILED(hr)) {
      SafeArrayDestroy(array);
      return hr;
    }
  }
  out.get()->vt = VARTYPE(VT_ARRAY | element);
  out.get()->parray = array;
  return S_OK;
}

}  // namespace

HRESULT writeObject(IWbemClassObject* object, rpc::WbemObject::Builder out, SentLayouts* layouts) {
  return writeObjectAt(object, out, 0, layouts);
}

HRESULT readObject(rpc::WbemObject::Reader in, ComPtr<IWbemClassObject>& out,
                   ReceivedLayouts* layouts) {
  return readObjectAt(in, out, 0, layouts);
}

HRESULT writeValue(const VARIANT& value, rpc::Value::Builder out) {
  return writeValueAt(value, out, 0);
}

HRESULT readValue(rpc::Value::Reader in, Variant& out) { return readValueAt(in, out, 0); }

HRESULT writeContext(IWbemContext* context, rpc::Context::Builder out) {
  std::vector<std::pair<std::u16string, Variant>> values;
  if (context != nullptr && SUCCEEDED(context->BeginEnumeration(0))) {
    for (;;) {
      BSTR name = nullptr;
      Variant value;
      if (context->Next(0, &name, value.get()) != WBEM_S_NO_ERROR) break;
      values.emplace_back(name ? std::u16string(name, SysStringLen(name)) : u"", std::move(value));
      SysFreeString(name);
    }
    context->EndEnumeration();
  }
  auto list = out.initValues(unsigned(values.size()));
  for (unsigned i = 0; i < values.size(); ++i) {
    list[i].setName(textBytes(values[i].first));
    HRESULT hr = writeValue(*values[i].second.get(), list[i].initValue());
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT readContext(rpc::Context::Reader in, ComPtr<IWbemContext>& out) {
  ComPtr<IWbemContext> context;
  HRESULT hr = createContext(context.put());
  if (FAILED(hr)) return hr;
  for (auto entry : in.getValues()) {
    Variant value;
    hr = readValue(entry.getValue(), value);
    if (FAILED(hr)) return hr;
    std::u16string name = textFrom(entry.getName());
    hr = context->SetValue(name.c_str(), 0, value.get());
    if (FAILED(hr)) return hr;
  }
  out = std::move(context);
  return S_OK;
}

kj::ArrayPtr<const capnp::byte> textBytes(const OLECHAR* text) {
  if (text == nullptr) return nullptr;
  std::size_t length = 0;
  while (text[length] != 0) ++length;
  return kj::arrayPtr(reinterpret_cast<const capnp::byte*>(text), length * sizeof(OLECHAR));
}

kj::ArrayPtr<const capnp::byte> textBytes(const std::u16string& text) {
  return kj::arrayPtr(reinterpret_cast<const capnp::byte*>(text.data()),
                      text.size() * sizeof(char16_t));
}

std::u16string textFrom(capnp::Data::Reader data) {
  std::u16string text(data.size() / sizeof(char16_t), u'\0');
  if (!text.empty()) std::memcpy(text.data(), data.begin(), text.size() * sizeof(char16_t));
  return text;
}

ReceivedText::ReceivedText(bool present, capnp::Data::Reader data) {
  if (present) m_text = bstrFrom(data);
}

ReceivedText& ReceivedText::operator=(ReceivedText&& other) noexcept {
  if (this != &other) {
    SysFreeString(m_text);
    m_text = other.m_text;
    other.m_text = nullptr;
  }
  return *this;
}

ReceivedText::~ReceivedText() { SysFreeString(m_text); }

}  // namespace velt::wmi::remote
