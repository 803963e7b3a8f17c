// A WMI object that answers Get from a table the test fills, so that a path can be built from
// objects the WMI stand-in never makes: a system property missing, null, of a type that has no
// text, or a class name the name rule refuses.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "declined_wbem.h"

namespace velt::objectpath::test {

class ScriptedClassObject final : public velt::test::DeclinedClassObject {
 public:
  ScriptedClassObject() = default;
  ~ScriptedClassObject() {
    for (auto& [name, value] : m_answers) VariantClear(&value);
  }
  ScriptedClassObject(const ScriptedClassObject&) = delete;
  ScriptedClassObject& operator=(const ScriptedClassObject&) = delete;

  // A property read as `value` (this object keeps its own copy, replacing an earlier answer).
  void answer(const std::u16string& name, const VARIANT& value) {
    VARIANT& kept = m_answers[name];  // a new entry starts out empty
    VariantClear(&kept);
    VariantCopy(&kept, const_cast<VARIANT*>(&value));
  }
  void answerText(const std::u16string& name, const char16_t* text) {
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BSTR;
    value.bstrVal = SysAllocString(text);
    answer(name, value);
    VariantClear(&value);
  }
  void answerType(const std::u16string& name, VARTYPE type) {
    VARIANT value;
    VariantInit(&value);
    value.vt = type;
    answer(name, value);
  }
  // A property read as a VARIANT of `type` that is no VARIANT type at all, handed out as it is
  // (a copy would refuse it), as a faulty object might.
  void answerInvalidType(const std::u16string& name, VARTYPE type) { m_invalidTypes[name] = type; }
  void forget(const std::u16string& name) {
    auto found = m_answers.find(name);
    if (found == m_answers.end()) return;
    VariantClear(&found->second);
    m_answers.erase(found);
  }
  void setKeyNames(std::vector<std::u16string> names) { m_keyNames = std::move(names); }
  int getCalls() const { return m_getCalls; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }  // lives on the test's stack
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  // An absent property: WBEM_E_NOT_FOUND and the VARIANT untouched, as WMI answers.
  HRESULT STDMETHODCALLTYPE Get(LPCWSTR name, LONG, VARIANT* value, CIMTYPE*, LONG*) override {
    ++m_getCalls;
    auto invalid = m_invalidTypes.find(name);
    if (invalid != m_invalidTypes.end()) {
      VariantInit(value);
      value->vt = invalid->second;
      return WBEM_S_NO_ERROR;
    }
    auto found = m_answers.find(name);
    if (found == m_answers.end()) return WBEM_E_NOT_FOUND;
    return VariantCopy(value, &found->second);
  }
  HRESULT STDMETHODCALLTYPE GetNames(LPCWSTR, LONG, VARIANT*, SAFEARRAY** names) override {
    SAFEARRAYBOUND bound{static_cast<ULONG>(m_keyNames.size()), 0};
    *names = SafeArrayCreate(VT_BSTR, 1, &bound);
    for (LONG index = 0; index < static_cast<LONG>(m_keyNames.size()); ++index) {
      BSTR name = SysAllocString(m_keyNames[static_cast<size_t>(index)].c_str());
      SafeArrayPutElement(*names, &index, name);
      SysFreeString(name);
    }
    return WBEM_S_NO_ERROR;
  }

 private:
  std::map<std::u16string, VARIANT> m_answers;
  std::map<std::u16string, VARTYPE> m_invalidTypes;
  std::vector<std::u16string> m_keyNames;
  int m_getCalls = 0;
};

}  // namespace velt::objectpath::test
