// The numeric coercions of VariantChangeType: integers, reals, currency, dates and booleans
// into one another.
#pragma once

#include <oleauto.h>

namespace velt::platform::oleaut {

// A type VariantChangeType converts as a number (VT_BOOL, VT_DATE and VT_CY included).
bool isNumericType(VARTYPE vt);

// Converts a numeric or empty value (never a reference) to the numeric type `type` into
// `result`. Integers take the nearest value, halves going to the even one; a value outside
// the target's range answers DISP_E_OVERFLOW and leaves `result` alone.
HRESULT changeNumericType(const VARIANT& value, VARTYPE type, VARIANT& result);

}  // namespace velt::platform::oleaut
