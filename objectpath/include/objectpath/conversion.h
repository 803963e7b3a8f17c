// How WMI text (BSTRs and VARIANTs, 16-bit units) becomes the narrow UTF-8 text of paths.
// Failures of the OLE Automation calls are thrown as _com_error.
#pragma once

#include <ole2.h>

#include <string>
#include <string_view>

// Text in the platform's 16-bit OLE characters, whatever character type the platform uses.
using WideText = std::basic_string<OLECHAR>;
using WideTextView = std::basic_string_view<OLECHAR>;

// Encodes each 16-bit unit on its own (surrogate halves included) up to the first zero unit.
std::string toUtf8(WideTextView wide);

// The BSTR's text up to its first NUL unit; a null BSTR gives an empty string.
WideText wideFromBstr(BSTR bstr);

// The value as text: a string as it is, anything else as VariantChangeType makes it.
WideText wideFromVariant(const VARIANT& value);
