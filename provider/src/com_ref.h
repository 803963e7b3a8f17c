// Owners of COM references and of BSTRs held within one provider call. Release happens where
// the call says so (reset) or, on an early way out, when the owner goes.
#pragma once

#include <windows.h>

#include <oleauto.h>

template <class Interface>
class ComRef {
 public:
  ComRef() = default;
  ~ComRef() { reset(); }
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;

  Interface* get() const { return m_pointer; }
  Interface* operator->() const { return m_pointer; }
  explicit operator bool() const { return m_pointer != nullptr; }
  // For an out-parameter: whatever was held is released first.
  Interface** put() {
    reset();
    return &m_pointer;
  }
  void reset() {
    if (m_pointer != nullptr) m_pointer->Release();
    m_pointer = nullptr;
  }

 private:
  Interface* m_pointer = nullptr;
};

class OwnedBstr {
 public:
  OwnedBstr() = default;
  ~OwnedBstr() { reset(); }
  OwnedBstr(const OwnedBstr&) = delete;
  OwnedBstr& operator=(const OwnedBstr&) = delete;

  BSTR get() const { return m_bstr; }
  BSTR* put() {
    reset();
    return &m_bstr;
  }
  void reset() {
    SysFreeString(m_bstr);
    m_bstr = nullptr;
  }

 private:
  BSTR m_bstr = nullptr;
};

class OwnedVariant {
 public:
  OwnedVariant() { VariantInit(&m_value); }
  ~OwnedVariant() { VariantClear(&m_value); }
  OwnedVariant(const OwnedVariant&) = delete;
  OwnedVariant& operator=(const OwnedVariant&) = delete;

  VARIANT* get() { return &m_value; }
  const VARIANT& value() const { return m_value; }

 private:
  VARIANT m_value;
};
