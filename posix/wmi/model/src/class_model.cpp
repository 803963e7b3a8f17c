#include "wmi_model/class_model.h"

#include <optional>
#include <unordered_map>

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

int ClassLayout::findProperty(const std::u16string& wanted) const {
  for (std::size_t i = 0; i < properties.size(); ++i) {
    if (equalsIgnoreCase(properties[i].name, wanted)) return int(i);
  }
  return -1;
}

const MethodDef* ClassLayout::findMethod(const std::u16string& wanted) const {
  for (const MethodDef& m : methods) {
    if (equalsIgnoreCase(m.name, wanted)) return &m;
  }
  return nullptr;
}

ClassDef::~ClassDef() {
  std::shared_ptr<const ClassDef> next = std::move(base);
  while (next && next.use_count() == 1) {
    std::shared_ptr<const ClassDef> after = std::move(const_cast<ClassDef&>(*next).base);
    next = std::move(after);
  }
}

void ClassDef::index() {
  if (base) {
    propertyIndex = base->propertyIndex;
    methodIndex = base->methodIndex;
  }
  for (const PropertyDef& p : properties) propertyIndex = propertyIndex.with(toLower(p.name), &p);
  for (const MethodDef& m : methods) methodIndex = methodIndex.with(toLower(m.name), &m);
}

const PropertyDef* ClassDef::findProperty(const std::u16string& wanted) const {
  const PropertyDef* const* p = propertyIndex.find(toLower(wanted));
  return p ? *p : nullptr;
}

const MethodDef* ClassDef::findMethod(const std::u16string& wanted) const {
  const MethodDef* const* m = methodIndex.find(toLower(wanted));
  return m ? *m : nullptr;
}

bool ClassDef::derivesFrom(const std::u16string& ancestor) const {
  for (const ClassDef* c = base.get(); c; c = c->base.get()) {
    if (equalsIgnoreCase(c->name, ancestor)) return true;
  }
  return false;
}

std::shared_ptr<const ClassLayout> ClassDef::layout() const {
  std::lock_guard<std::mutex> lock(m_layoutMutex);
  if (!m_layout) m_layout = layoutOf(*this);
  return m_layout;
}

std::shared_ptr<const ClassLayout> layoutOf(const ClassDef& def) {
  auto layout = std::make_shared<ClassLayout>();
  layout->name = def.name;
  layout->qualifiers = def.qualifiers;
  layout->server = def.server;
  layout->nameSpace = def.nameSpace;
  std::vector<const ClassDef*> chain;  // the root first
  for (const ClassDef* c = &def; c; c = c->base.get()) chain.insert(chain.begin(), c);
  for (std::size_t i = chain.size() - 1; i-- > 0;) layout->derivation.push_back(chain[i]->name);

  std::unordered_map<std::u16string, std::size_t> propertySlots;
  std::unordered_map<std::u16string, std::size_t> methodSlots;
  std::vector<std::optional<MethodDef>> methods;
  for (const ClassDef* c : chain) {
    for (const PropertyDef& p : c->properties) {
      auto [slot, added] = propertySlots.emplace(toLower(p.name), layout->properties.size());
      if (added) {
        layout->properties.push_back(p);
        continue;
      }
      // An override keeps the inherited origin and type.
      PropertyDef& inherited = layout->properties[slot->second];
      for (const Qualifier& q : p.qualifiers) {
        Qualifier* old = nullptr;
        for (Qualifier& b : inherited.qualifiers) {
          if (equalsIgnoreCase(b.name, q.name)) old = &b;
        }
        if (old) {
          *old = q;
        } else {
          inherited.qualifiers.push_back(q);
        }
      }
      if (!p.defaultValue.isNull()) inherited.defaultValue = p.defaultValue;
    }
    for (const MethodDef& m : c->methods) {  // an override moves to the end
      auto [slot, added] = methodSlots.emplace(toLower(m.name), methods.size());
      if (!added) {
        methods[slot->second].reset();
        slot->second = methods.size();
      }
      methods.push_back(m);
    }
  }
  for (std::optional<MethodDef>& m : methods) {
    if (m) layout->methods.push_back(std::move(*m));
  }
  return layout;
}

}  // namespace velt::wmi::detail
