// A VARIANT that clears itself, for the tests that hand VARIANTs to the conversions.
#pragma once

#include <oleauto.h>

namespace velt::objectpath::test {

class Variant {
 public:
  Variant() { VariantInit(&m_value); }
  ~Variant() { VariantClear(&m_value); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  VARIANT* operator->() { return &m_value; }
  const VARIANT& operator*() const { return m_value; }

 private:
  VARIANT m_value;
};

}  // namespace velt::objectpath::test
