// The path of a WMI object: its __SERVER, __NAMESPACE and __CLASS, and its key properties.
#include <comdef.h>
#include <wbemcli.h>

#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "objectpath/conversion.h"
#include "objectpath/object_path.h"

namespace {

// The one VARIANT every property is read into in turn.
class WorkingVariant {
 public:
  WorkingVariant() { VariantInit(&m_value); }
  ~WorkingVariant() { VariantClear(&m_value); }
  WorkingVariant(const WorkingVariant&) = delete;
  WorkingVariant& operator=(const WorkingVariant&) = delete;

  void clear() {
    HRESULT hr = VariantClear(&m_value);
    if (FAILED(hr)) throw _com_error(hr);
  }
  VARIANT* get() { return &m_value; }
  const VARIANT& value() const { return m_value; }

 private:
  VARIANT m_value;
};

class OwnedSafeArray {
 public:
  ~OwnedSafeArray() {
    if (m_array != nullptr) SafeArrayDestroy(m_array);
  }
  SAFEARRAY** put() { return &m_array; }
  SAFEARRAY* get() const { return m_array; }
  void destroy() {
    if (m_array != nullptr) SafeArrayDestroy(m_array);
    m_array = nullptr;
  }

 private:
  SAFEARRAY* m_array = nullptr;
};

// Reads a property by name; an absent property leaves the VARIANT empty.
void readProperty(IWbemClassObject* object, const OLECHAR* name, WorkingVariant& value) {
  BSTR propertyName = SysAllocString(name);
  if (propertyName == nullptr) throw _com_error(E_OUTOFMEMORY);
  object->Get(propertyName, 0, value.get(), nullptr, nullptr);
  SysFreeString(propertyName);
}

std::string textOf(const VARIANT& value) { return toUtf8(wideFromVariant(value)); }

[[noreturn]] void keyValueMissing() { throw std::invalid_argument("could not get key value."); }

// The key-property names in the object's order. A name list the object cannot give, or a name
// that cannot be fetched, leaves the keys unknown: the path is then refused rather than built
// with keys missing.
std::vector<std::u16string> keyNames(IWbemClassObject* object) {
  OwnedSafeArray names;
  if (FAILED(object->GetNames(nullptr, WBEM_FLAG_KEYS_ONLY, nullptr, names.put()))) {
    keyValueMissing();
  }
  std::vector<std::u16string> list;
  if (names.get() == nullptr) return list;
  LONG lower = 0;
  LONG upper = 0;
  if (FAILED(SafeArrayGetLBound(names.get(), 1, &lower)) ||
      FAILED(SafeArrayGetUBound(names.get(), 1, &upper))) {
    keyValueMissing();
  }
  for (LONG index = lower; index <= upper; ++index) {
    BSTR element = nullptr;
    if (FAILED(SafeArrayGetElement(names.get(), &index, &element)) || element == nullptr) {
      SysFreeString(element);
      keyValueMissing();
    }
    try {
      list.emplace_back(element, SysStringLen(element));
    } catch (const std::bad_alloc&) {
      SysFreeString(element);
      throw _com_error(E_OUTOFMEMORY);
    }
    SysFreeString(element);
  }
  names.destroy();
  return list;
}

}  // namespace

WbemObjectPath::WbemObjectPath(IWbemClassObject* object) {
  if (object == nullptr) throw std::invalid_argument("");
  WorkingVariant value;
  value.clear();

  readProperty(object, OLESTR("__SERVER"), value);
  try {
    setServer(textOf(value.value()));
  } catch (...) {
  }
  value.clear();
  readProperty(object, OLESTR("__NAMESPACE"), value);
  try {
    setNamespace(textOf(value.value()));
  } catch (...) {
  }
  value.clear();
  readProperty(object, OLESTR("__CLASS"), value);
  try {
    setModelClass(textOf(value.value()));
  } catch (...) {
    throw std::invalid_argument("failed to get class name.");
  }
  value.clear();

  std::vector<std::u16string> names = keyNames(object);
  PropertyMap keys;
  for (const std::u16string& name : names) {
    value.clear();
    readProperty(object, name.c_str(), value);
    try {
      std::string keyValue = textOf(value.value());
      keys.add(toUtf8(name), keyValue);
    } catch (...) {
      keyValueMissing();
    }
  }
  setKeys(KeyBindings(keys));
  value.clear();
}
