// The text VariantChangeType makes of a scalar VARIANT value (US-English conventions).
#pragma once

#include <oleauto.h>

#include <cstddef>

namespace velt::platform::oleaut {

// Room for the longest text any scalar produces.
constexpr size_t kScalarTextCapacity = 64;

// Writes the text of a non-reference, non-string scalar into `text` (ASCII, not terminated)
// and its length into `length`. Fails with DISP_E_TYPEMISMATCH for a type without a text.
HRESULT scalarToText(const VARIANT& value, USHORT flags, char (&text)[kScalarTextCapacity],
                     size_t& length);

}  // namespace velt::platform::oleaut
