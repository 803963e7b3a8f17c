// The path of a WMI object: its __SERVER, __NAMESPACE and __CLASS, and its key properties.
#include <comdef.h>
#include <owners/owned_variant.h>
#include <owners/unique_handle.h>
#include <wbemcli.h>

#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "objectpath/conversion.h"
#include "objectpath/object_path.h"

namespace {

// The one VARIANT every property is read into in turn; a failing clear is the caller's error.
class WorkingVariant {
 public:
  void clear() {
    HRESULT hr = m_value.clear();
    if (FAILED(hr)) throw _com_error(hr);
  }
  VARIANT* get() { return m_value.get(); }
  const VARIANT& value() const { return m_value.value(); }

 private:
  velt::OwnedVariant m_value;
};

// Reads a property by name; an absent property leaves the VARIANT empty.
void readProperty(IWbemClassObject* object, const OLECHAR* name, WorkingVariant& value) {
  velt::UniqueBstr propertyName(SysAllocString(name));
  if (!propertyName) throw _com_error(E_OUTOFMEMORY);
  object->Get(propertyName.get(), 0, value.get(), nullptr, nullptr);
}

std::string textOf(const VARIANT& value) { return toUtf8(wideFromVariant(value)); }

[[noreturn]] void keyValueMissing() { throw std::invalid_argument("could not get key value."); }

// The key-property names in the object's order. A name list the object cannot give, or a name
// that cannot be fetched, leaves the keys unknown: the path is then refused rather than built
// with keys missing.
std::vector<WideText> keyNames(IWbemClassObject* object) {
  velt::UniqueSafeArray names;
  if (FAILED(object->GetNames(nullptr, WBEM_FLAG_KEYS_ONLY, nullptr, names.put()))) {
    keyValueMissing();
  }
  std::vector<WideText> list;
  if (names.get() == nullptr) return list;
  LONG lower = 0;
  LONG upper = 0;
  if (FAILED(SafeArrayGetLBound(names.get(), 1, &lower)) ||
      FAILED(SafeArrayGetUBound(names.get(), 1, &upper))) {
    keyValueMissing();
  }
  for (LONG index = lower; index <= upper; ++index) {
    velt::UniqueBstr element;
    if (FAILED(SafeArrayGetElement(names.get(), &index, element.put())) || !element) {
      keyValueMissing();
    }
    try {
      list.emplace_back(element.get(), SysStringLen(element.get()));
    } catch (const std::bad_alloc&) {
      throw _com_error(E_OUTOFMEMORY);
    }
  }
  names.reset();
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

  std::vector<WideText> names = keyNames(object);
  PropertyMap keys;
  for (const WideText& name : names) {
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
