// One owner for a VARIANT: initialised when made, cleared when it goes. Copies are deep
// (VariantCopy), moves take the contents and leave an empty VARIANT behind.
#pragma once

#include <windows.h>

#include <oleauto.h>

#include <utility>

namespace velt {

class OwnedVariant {
 public:
  OwnedVariant() noexcept { VariantInit(&m_value); }
  // A copy that cannot be made (no memory) leaves this one empty, as VariantCopy does.
  OwnedVariant(const OwnedVariant& other) noexcept : OwnedVariant() {
    // The published source parameter is const; not every SDK's header says so.
    VariantCopy(&m_value, const_cast<VARIANT*>(&other.m_value));
  }
  OwnedVariant(OwnedVariant&& other) noexcept : m_value(other.m_value) {
    VariantInit(&other.m_value);
  }
  OwnedVariant& operator=(OwnedVariant other) noexcept {
    std::swap(m_value, other.m_value);
    return *this;
  }
  ~OwnedVariant() { VariantClear(&m_value); }

  VARIANT* get() noexcept { return &m_value; }
  const VARIANT* get() const noexcept { return &m_value; }
  const VARIANT& value() const noexcept { return m_value; }
  VARTYPE vt() const noexcept { return m_value.vt; }
  bool isNull() const noexcept { return m_value.vt == VT_NULL || m_value.vt == VT_EMPTY; }

  // Clears now rather than when the owner goes, for callers that must see a failure.
  HRESULT clear() noexcept { return VariantClear(&m_value); }
  // Hands the contents to the caller, who clears them; this owner is left empty.
  [[nodiscard]] VARIANT release() noexcept {
    VARIANT contents = m_value;
    VariantInit(&m_value);
    return contents;
  }

 private:
  VARIANT m_value;
};

}  // namespace velt
