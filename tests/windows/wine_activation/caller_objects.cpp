#include "caller_objects.h"

namespace velt::test {

namespace {

template <class Interface>
HRESULT handOut(Interface* object, void** out) {
  object->AddRef();
  *out = object;
  return S_OK;
}

void releaseAll(auto& objects) {
  for (auto* object : objects) object->Release();
  objects.clear();
}

}  // namespace

HRESULT StatusObject::QueryInterface(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IWbemClassObject)) {
    return handOut(static_cast<IWbemClassObject*>(this), out);
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

StatusObject::~StatusObject() { releaseAll(m_instances); }

HRESULT StatusObject::Put(LPCWSTR name, LONG, VARIANT* value, CIMTYPE) {
  if (name == nullptr || value == nullptr) return WBEM_E_INVALID_PARAMETER;
  std::lock_guard<std::mutex> guard(m_lock);
  if (V_VT(value) == VT_BSTR) {
    m_texts[name] = V_BSTR(value) != nullptr ? V_BSTR(value) : L"";
  } else if (V_VT(value) == VT_I4) {
    m_numbers[name] = V_I4(value);
  } else {
    return WBEM_E_TYPE_MISMATCH;
  }
  return WBEM_S_NO_ERROR;
}

HRESULT StatusObject::SpawnInstance(LONG, IWbemClassObject** instance) {
  if (instance == nullptr) return WBEM_E_INVALID_PARAMETER;
  auto* spawned = new StatusObject;
  std::lock_guard<std::mutex> guard(m_lock);
  m_instances.push_back(spawned);
  return handOut(static_cast<IWbemClassObject*>(spawned), reinterpret_cast<void**>(instance));
}

std::map<std::wstring, std::wstring> StatusObject::texts() const {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_texts;
}

std::map<std::wstring, LONG> StatusObject::numbers() const {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_numbers;
}

std::vector<StatusObject*> StatusObject::instances() const {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_instances;
}

HRESULT CallerNamespace::QueryInterface(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IWbemServices)) {
    return handOut(static_cast<IWbemServices*>(this), out);
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

CallerNamespace::~CallerNamespace() { releaseAll(m_statusClasses); }

HRESULT CallerNamespace::GetObject(const BSTR path, LONG, IWbemContext*, IWbemClassObject** object,
                                   IWbemCallResult**) {
  if (object == nullptr) return WBEM_E_INVALID_PARAMETER;
  *object = nullptr;
  std::wstring asked = path != nullptr ? path : L"";
  std::lock_guard<std::mutex> guard(m_lock);
  m_classesAsked.push_back(asked);
  if (asked != L"__ExtendedStatus") return WBEM_E_NOT_FOUND;
  auto* statusClass = new StatusObject;
  m_statusClasses.push_back(statusClass);
  return handOut(static_cast<IWbemClassObject*>(statusClass), reinterpret_cast<void**>(object));
}

std::vector<std::wstring> CallerNamespace::classesAsked() const {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_classesAsked;
}

std::vector<StatusObject*> CallerNamespace::statusClasses() const {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_statusClasses;
}

HRESULT CallerInitSink::QueryInterface(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IWbemProviderInitSink)) {
    return handOut(static_cast<IWbemProviderInitSink*>(this), out);
  }
  if (IsEqualIID(iid, IID_IWbemObjectSink)) {
    return handOut(static_cast<IWbemObjectSink*>(this), out);
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

CallerInitSink::~CallerInitSink() { releaseAll(m_objects); }

HRESULT CallerInitSink::SetStatus(LONG status, LONG) {
  std::lock_guard<std::mutex> guard(m_lock);
  m_initStatuses.push_back(status);
  return WBEM_S_NO_ERROR;
}

HRESULT CallerInitSink::SetStatus(LONG flags, HRESULT result, BSTR text, IWbemClassObject* object) {
  std::lock_guard<std::mutex> guard(m_lock);
  m_objectStatuses.push_back({flags, result, text != nullptr, object != nullptr});
  if (object != nullptr) {
    object->AddRef();
    m_objects.push_back(object);
  }
  return WBEM_S_NO_ERROR;
}

std::vector<LONG> CallerInitSink::initStatuses() const {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_initStatuses;
}

std::vector<CallerInitSink::ObjectStatus> CallerInitSink::objectStatuses() const {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_objectStatuses;
}

std::vector<IWbemClassObject*> CallerInitSink::statusObjects() const {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_objects;
}

}  // namespace velt::test
