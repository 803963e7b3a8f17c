// Typing a value the user wrote as text by the CIM type its class definition gives it.
#pragma once

#include <string>
#include <vector>

#include <wbemcli.h>

namespace veltwmi {

// Converts `text` to the VARIANT form WMI uses for `type` (CIM_FLAG_ARRAY included) and
// stores it in `out` (cleared first). Empty text is NULL for every type but string, where it
// is the empty string. Throws Failure(kExitUsage) naming `what` when the text does not fit.
void typedValue(CIMTYPE type, const std::string& text, const std::string& what, VARIANT* out);

// The items of an array written as `a,b,c` or `{a, "b,c", "say \"hi\""}`: double quotes keep
// commas and spaces, \" and \\ escape inside them; unquoted items are trimmed.
std::vector<std::string> splitArrayItems(const std::string& text);

// "uint32", "string[]", "datetime".
std::string cimTypeName(CIMTYPE type);

}  // namespace veltwmi
