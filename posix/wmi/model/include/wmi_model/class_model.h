// WMI classes in two shapes. A ClassDef is a class as declared: its own qualifiers, the
// properties and methods it declares, and its superclass's definition, shared rather than
// copied, so that reading a chain of derived classes costs what the text declares. A
// ClassLayout is the whole class as an object shows it: every property, inherited ones
// included, in their slots, and every method.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "wmi_model/shared_name_map.h"
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

struct ClassLayout;

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
  std::shared_ptr<const ClassLayout> inParameters;   // null when the method takes none
  std::shared_ptr<const ClassLayout> outParameters;  // null when it returns nothing
  std::u16string originClass;
};

struct ClassLayout {
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

struct ClassDef {
  ClassDef() = default;
  ClassDef(const ClassDef&) = delete;
  ClassDef& operator=(const ClassDef&) = delete;
  ~ClassDef();  // unwinds a long chain of superclasses without deep recursion

  std::u16string name;
  std::shared_ptr<const ClassDef> base;  // null for a class without superclass
  Qualifiers qualifiers;
  std::vector<PropertyDef> properties;  // declared here: new ones and overrides
  std::vector<MethodDef> methods;       // declared here: new ones and overrides
  std::u16string server;
  std::u16string nameSpace;
  // Every property and method, inherited ones included, by lower-case name: the most derived
  // declaration. Filled by index() once the declared features are complete.
  SharedNameMap<const PropertyDef*> propertyIndex;
  SharedNameMap<const MethodDef*> methodIndex;

  void index();
  const PropertyDef* findProperty(const std::u16string& name) const;
  const MethodDef* findMethod(const std::u16string& name) const;
  bool derivesFrom(const std::u16string& ancestor) const;
  // The whole class, built on first use and then shared by every object of this definition
  // (a changed class is a new ClassDef, so the layout never goes stale). Objects never change
  // it: a class object that adds or removes a property makes a layout of its own.
  std::shared_ptr<const ClassLayout> layout() const;

 private:
  mutable std::mutex m_layoutMutex;
  mutable std::shared_ptr<const ClassLayout> m_layout;
};

// The whole class: the chain walked once, overrides merged into the inherited slots.
std::shared_ptr<const ClassLayout> layoutOf(const ClassDef& def);

}  // namespace velt::wmi::detail
