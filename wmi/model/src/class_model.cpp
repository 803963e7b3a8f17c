#include "wmi_model/class_model.h"

namespace velt::wmi::detail {

const Qualifier* findQualifier(const Qualifiers& qualifiers, const std::u16string& name) {
  for (const Qualifier& q : qualifiers) {
    if (equalsIgnoreCase(q.name, name)) return &q;
  }
  return nullptr;
}

bool qualifierIsSet(const Qualifiers& qualifiers, const std::u16string& name) {
  const Qualifier* q = findQualifier(qualifiers, name);
  if (!q) return false;
  const VARIANT* v = q->value.get();
  return !(v->vt == VT_BOOL && v->boolVal == VARIANT_FALSE);
}

int ClassDef::findProperty(const std::u16string& wanted) const {
  for (std::size_t i = 0; i < properties.size(); ++i) {
    if (equalsIgnoreCase(properties[i].name, wanted)) return int(i);
  }
  return -1;
}

const MethodDef* ClassDef::findMethod(const std::u16string& wanted) const {
  for (const MethodDef& m : methods) {
    if (equalsIgnoreCase(m.name, wanted)) return &m;
  }
  return nullptr;
}

}  // namespace velt::wmi::detail
