// Java strings and BSTRs are both UTF-16, so text crosses unit for unit, with no detour through
// modified UTF-8 that would mangle characters outside the basic plane.
#pragma once

#include <jni.h>
#include <oleauto.h>

namespace qelvor {

// A BSTR holding the string's units, owned by the caller; null for a null string. On failure
// (no memory) a Java exception is pending and the result is null.
BSTR bstrFromJava(JNIEnv* env, jstring text);

// A new Java string of the BSTR's units; null with an exception pending when the VM fails.
jstring javaFromText(JNIEnv* env, const OLECHAR* text, UINT length);
inline jstring javaFromBstr(JNIEnv* env, BSTR text) {
  return javaFromText(env, text, text == nullptr ? 0 : SysStringLen(text));
}

// Owns one BSTR.
class BstrHolder {
 public:
  explicit BstrHolder(BSTR value = nullptr) : m_value(value) {}
  ~BstrHolder() { SysFreeString(m_value); }
  BstrHolder(const BstrHolder&) = delete;
  BstrHolder& operator=(const BstrHolder&) = delete;
  BSTR get() const { return m_value; }
  BSTR* out() {
    SysFreeString(m_value);
    m_value = nullptr;
    return &m_value;
  }

 private:
  BSTR m_value;
};

// Owns one VARIANT.
class VariantHolder {
 public:
  VariantHolder() { VariantInit(&m_value); }
  ~VariantHolder() { VariantClear(&m_value); }
  VariantHolder(const VariantHolder&) = delete;
  VariantHolder& operator=(const VariantHolder&) = delete;
  VARIANT* get() { return &m_value; }
  const VARIANT& value() const { return m_value; }

 private:
  VARIANT m_value;
};

}  // namespace qelvor
