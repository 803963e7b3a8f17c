// How WMI text (BSTRs and VARIANTs, 16-bit units) becomes the narrow UTF-8 text of paths.
// Failures of the OLE Automation calls are thrown as _com_error.
#pragma once

#include <oleauto.h>

#include <string>
#include <string_view>

// Encodes each 16-bit unit on its own (surrogate halves included) up to the first zero unit.
std::string toUtf8(std::u16string_view wide);

// The BSTR's text up to its first NUL unit; a null BSTR gives an empty string.
std::u16string wideFromBstr(BSTR bstr);

// The value as text: a string as it is, anything else as VariantChangeType makes it.
std::u16string wideFromVariant(const VARIANT& value);
