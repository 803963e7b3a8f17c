// What a value written in MOF may be for a property of a given type. Stricter than a
// property write at run time: a text is read by people, so a value that only converts by
// accident (2 as a boolean, any text as a datetime) is a fault in it. A character literal
// holds one character by the lexer's rule.
#pragma once

#include <optional>
#include <string>

#include "wmi_model/variant_value.h"

namespace velt::wmi::detail {

// Why `item` (as the reader decoded it) cannot be a value of `elementType`, or nullopt.
std::optional<std::string> mofValueFault(const Variant& item, CIMTYPE elementType);

// yyyymmddHHMMSS.mmmmmmsUUU (a point in time) or ddddddddHHMMSS.mmmmmm:000 (an interval);
// a field may be all asterisks where it is not significant.
bool isCimDatetime(const std::u16string& text);

}  // namespace velt::wmi::detail
