// A WMI object as the output formats see it: its class, its path and its non-system
// properties in class order, each with its CIM type, and the texts each format writes.
#pragma once

#include <string>
#include <vector>

#include "com_support.h"

namespace veltwmi {

struct PropertyValue {
  std::string name;
  CIMTYPE type = CIM_EMPTY;
  OwnedVariant value;
};

struct ObjectView {
  std::string className;
  std::string relPath;  // empty when the object has no keys set
  std::vector<PropertyValue> properties;
};

ObjectView viewOf(IWbemClassObject* object);

// For people: strings as they are, arrays as {a, "b c"} with items quoted where `put` needs them
// quoted to read them back, NULL as the empty text.
std::string plainText(const PropertyValue& property);
// A JSON value: numbers and booleans bare, strings quoted and escaped, NULL as null.
std::string jsonText(const PropertyValue& property);
// A MOF literal: strings quoted and escaped, arrays in braces, NULL as NULL.
std::string mofText(const PropertyValue& property);
// A JSON string literal.
std::string jsonQuote(const std::string& text);

}  // namespace veltwmi
