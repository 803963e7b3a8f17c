// Owned VARIANTs and the conversions a property write goes through: every CIM type has one
// canonical VARIANT form, and a written value is converted to it or refused.
#pragma once

#include <string>
#include <vector>

#include <owners/owned_variant.h>
#include <owners/utf_text.h>

#include <wbemcli.h>

namespace velt::wmi::detail {

// A VARIANT owned by the object model, with the few ways the model makes and reads one.
class Variant : public OwnedVariant {
 public:
  static Variant null() {
    Variant v;
    v.get()->vt = VT_NULL;
    return v;
  }
  static Variant text(const std::u16string& s);
  static Variant int32(LONG value);
  static Variant boolean(bool value);

  // The held text when it is a string, otherwise empty.
  std::u16string asText() const;
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

}  // namespace velt::wmi::detail
