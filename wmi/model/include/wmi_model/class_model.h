// The definition of a WMI class as the repository holds it: typed properties with their
// qualifiers and defaults, methods with their parameter classes, and the derivation chain.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "wmi_model/variant_value.h"

namespace velt::wmi::detail {

struct Qualifier {
  std::u16string name;
  Variant value;
  LONG flavor = 0;
};
using Qualifiers = std::vector<Qualifier>;

const Qualifier* findQualifier(const Qualifiers& qualifiers, const std::u16string& name);
// A qualifier that is present and not explicitly false, as boolean qualifiers are read.
bool qualifierIsSet(const Qualifiers& qualifiers, const std::u16string& name);

struct ClassDef;

struct PropertyDef {
  std::u16string name;
  CIMTYPE type = CIM_STRING;
  Qualifiers qualifiers;
  Variant defaultValue = Variant::null();
  std::u16string originClass;
  bool isKey() const { return qualifierIsSet(qualifiers, u"key"); }
};

struct MethodDef {
  std::u16string name;
  Qualifiers qualifiers;
  std::shared_ptr<const ClassDef> inParameters;   // null when the method takes none
  std::shared_ptr<const ClassDef> outParameters;  // null when it returns nothing
  std::u16string originClass;
};

struct ClassDef {
  std::u16string name;
  std::vector<std::u16string> derivation;  // superclass first, then its superclass, ...
  Qualifiers qualifiers;
  std::vector<PropertyDef> properties;
  std::vector<MethodDef> methods;
  std::u16string server;
  std::u16string nameSpace;

  std::u16string superclass() const { return derivation.empty() ? u"" : derivation.front(); }
  std::u16string dynasty() const { return derivation.empty() ? name : derivation.back(); }
  bool isSingleton() const { return qualifierIsSet(qualifiers, u"singleton"); }
  int findProperty(const std::u16string& name) const;
  const MethodDef* findMethod(const std::u16string& name) const;
};

}  // namespace velt::wmi::detail
