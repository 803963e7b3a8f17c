// Owned VARIANTs and the conversions a property write goes through: every CIM type has one
// canonical VARIANT form, and a written value is converted to it or refused.
#pragma once

#include <string>
#include <vector>

#include <wbemcli.h>

namespace velt::wmi::detail {

class Variant {
 public:
  Variant() { VariantInit(&v_); }
  Variant(const Variant& o) : Variant() { VariantCopy(&v_, &o.v_); }
  Variant(Variant&& o) noexcept : v_(o.v_) { VariantInit(&o.v_); }
  Variant& operator=(Variant o) noexcept {
    std::swap(v_, o.v_);
    return *this;
  }
  ~Variant() { VariantClear(&v_); }

  static Variant null() {
    Variant v;
    v.v_.vt = VT_NULL;
    return v;
  }
  static Variant text(const std::u16string& s);
  static Variant int32(LONG value);
  static Variant boolean(bool value);

  VARIANT* get() { return &v_; }
  const VARIANT* get() const { return &v_; }
  VARTYPE vt() const { return v_.vt; }
  bool isNull() const { return v_.vt == VT_NULL || v_.vt == VT_EMPTY; }
  // The held text when it is a string, otherwise empty.
  std::u16string asText() const;

 private:
  VARIANT v_;
};

// The VARIANT type WMI uses for a CIM type (with VT_ARRAY for arrays).
VARTYPE variantTypeOf(CIMTYPE type);
// The CIM type a VARIANT would get if it created a property; CIM_ILLEGAL if none fits.
CIMTYPE cimTypeOfVariant(VARTYPE vt);
// Converts `in` to the canonical form of `type`; VT_NULL and VT_EMPTY become null.
HRESULT coerceToCimType(const VARIANT& in, CIMTYPE type, Variant& out);
// Converts every element, then builds the canonical array.
HRESULT coerceElements(const std::vector<Variant>& elements, CIMTYPE arrayType, Variant& out);
// The elements of an array VARIANT, each as its own VARIANT.
HRESULT readElements(const VARIANT& array, std::vector<Variant>& out);
// A SAFEARRAY of BSTRs.
SAFEARRAY* makeStringArray(const std::vector<std::u16string>& items);

bool equalsIgnoreCase(const std::u16string& a, const std::u16string& b);
std::u16string toLower(std::u16string s);
std::u16string utf16FromUtf8(const std::string& utf8);
std::string narrow(const std::u16string& text);  // UTF-8

}  // namespace velt::wmi::detail
