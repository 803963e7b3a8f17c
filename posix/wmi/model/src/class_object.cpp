#include "wmi_model/class_object.h"

#include <mutex>

#include "wmi_model/object_path_text.h"

namespace velt::wmi::detail {
namespace {

constexpr const char16_t* kSystemProperties[] = {
    u"__GENUS",          u"__CLASS",      u"__SUPERCLASS", u"__DYNASTY",   u"__RELPATH",
    u"__PROPERTY_COUNT", u"__DERIVATION", u"__SERVER",     u"__NAMESPACE", u"__PATH"};

bool isSystemName(const std::u16string& name) { return name.rfind(u"__", 0) == 0; }

Variant textOrNull(const std::u16string& s) {
  return s.empty() ? Variant::null() : Variant::text(s);
}

// Canonical text of a value, for comparing qualifier values.
std::u16string comparable(const VARIANT& v) {
  if (v.vt == VT_BSTR) return v.bstrVal ? std::u16string(v.bstrVal, SysStringLen(v.bstrVal)) : u"";
  Variant copy;
  if (FAILED(coerceToCimType(v, CIM_SINT64, copy))) {
    if (v.vt == VT_BOOL) return v.boolVal ? u"true" : u"false";
    return u"\x1";
  }
  return copy.asText();
}

std::vector<Variant> defaultsOf(const ClassLayout& def) {
  std::vector<Variant> values;
  values.reserve(def.properties.size());
  for (const PropertyDef& p : def.properties) values.push_back(p.defaultValue);
  return values;
}

class QualifierSet final : public ComObject<IWbemQualifierSet, IID_IWbemQualifierSet> {
 public:
  explicit QualifierSet(Qualifiers q) : m_qualifiers(std::move(q)) {}

  STDMETHODIMP Get(LPCWSTR name, LONG, VARIANT* value, LONG* flavor) override {
    if (!name) return WBEM_E_INVALID_PARAMETER;
    const Qualifier* q = findQualifier(m_qualifiers, name);
    if (!q) return WBEM_E_NOT_FOUND;
    if (value) {
      VariantInit(value);
      VariantCopy(value, q->value.get());
    }
    if (flavor) *flavor = q->flavor;
    return WBEM_S_NO_ERROR;
  }
  STDMETHODIMP Put(LPCWSTR, VARIANT*, LONG) override { return WBEM_E_READ_ONLY; }
  STDMETHODIMP Delete(LPCWSTR) override { return WBEM_E_READ_ONLY; }
  STDMETHODIMP GetNames(LONG, SAFEARRAY** names) override {
    if (!names) return WBEM_E_INVALID_PARAMETER;
    std::vector<std::u16string> list;
    for (const Qualifier& q : m_qualifiers) list.push_back(q.name);
    *names = makeStringArray(list);
    return *names ? WBEM_S_NO_ERROR : WBEM_E_OUT_OF_MEMORY;
  }
  STDMETHODIMP BeginEnumeration(LONG) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_position = 0;
    return WBEM_S_NO_ERROR;
  }
  STDMETHODIMP Next(LONG, BSTR* name, VARIANT* value, LONG* flavor) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_position >= m_qualifiers.size()) return WBEM_S_NO_MORE_DATA;
    const Qualifier& q = m_qualifiers[m_position++];
    if (name) *name = SysAllocStringLen(q.name.data(), UINT(q.name.size()));
    if (value) {
      VariantInit(value);
      VariantCopy(value, q.value.get());
    }
    if (flavor) *flavor = q.flavor;
    return WBEM_S_NO_ERROR;
  }
  STDMETHODIMP EndEnumeration() override { return WBEM_S_NO_ERROR; }

 private:
  const Qualifiers m_qualifiers;
  std::mutex m_mutex;
  std::size_t m_position = 0;
};

class ClassObject final : public ComObject<IWbemClassObject, IID_IWbemClassObject> {
 public:
  ClassObject(std::shared_ptr<const ClassLayout> def, WBEM_GENUS_TYPE genus,
              std::vector<Variant> values)
      : m_def(std::move(def)), m_genus(genus), m_values(std::move(values)) {}

  // ---- properties ----
  STDMETHODIMP GetQualifierSet(IWbemQualifierSet** out) override {
    if (!out) return WBEM_E_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(m_mutex);
    *out = makeQualifierSet(m_def->qualifiers).detach();
    return WBEM_S_NO_ERROR;
  }

  STDMETHODIMP Get(LPCWSTR name, LONG, VARIANT* value, CIMTYPE* type, LONG* flavor) override {
    if (!name) return WBEM_E_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(m_mutex);
    std::u16string wanted(name);
    Variant result;
    CIMTYPE cimType = CIM_EMPTY;
    LONG origin = WBEM_FLAVOR_ORIGIN_SYSTEM;
    if (isSystemName(wanted)) {
      if (!systemValue(wanted, result, cimType)) return WBEM_E_NOT_FOUND;
    } else {
      int index = m_def->findProperty(wanted);
      if (index < 0) return WBEM_E_NOT_FOUND;
      const PropertyDef& p = m_def->properties[index];
      result = m_values[index];
      cimType = p.type;
      origin = equalsIgnoreCase(p.originClass, m_def->name) ? WBEM_FLAVOR_ORIGIN_LOCAL
                                                            : WBEM_FLAVOR_ORIGIN_PROPAGATED;
    }
    if (value) {
      VariantInit(value);
      HRESULT hr = VariantCopy(value, result.get());
      if (FAILED(hr)) return WBEM_E_OUT_OF_MEMORY;
    }
    if (type) *type = cimType;
    if (flavor) *flavor = origin;
    return WBEM_S_NO_ERROR;
  }

  STDMETHODIMP Put(LPCWSTR name, LONG, VARIANT* value, CIMTYPE type) override {
    if (!name || !*name) return WBEM_E_INVALID_PARAMETER;
    std::u16string wanted(name);
    if (isSystemName(wanted)) return WBEM_E_READ_ONLY;
    VARIANT none;
    VariantInit(&none);
    none.vt = VT_NULL;
    const VARIANT& in = value ? *value : none;
    std::lock_guard<std::mutex> lock(m_mutex);
    int index = m_def->findProperty(wanted);
    if (index < 0) {
      if (m_genus == WBEM_GENUS_INSTANCE) return WBEM_E_NOT_FOUND;
      if (type == CIM_EMPTY) type = cimTypeOfVariant(in.vt);
      if (type == CIM_ILLEGAL || type == CIM_EMPTY) return WBEM_E_TYPE_MISMATCH;
      Variant stored;
      HRESULT hr = coerceToCimType(in, type, stored);
      if (FAILED(hr)) return hr;
      auto def = std::make_shared<ClassLayout>(*m_def);
      def->properties.push_back({wanted, type, {}, stored, def->name});
      m_def = std::move(def);
      m_values.push_back(std::move(stored));
      return WBEM_S_NO_ERROR;
    }
    const PropertyDef& p = m_def->properties[index];
    if (type != CIM_EMPTY && type != p.type) return WBEM_E_TYPE_MISMATCH;
    Variant stored;
    HRESULT hr = coerceToCimType(in, p.type, stored);
    if (FAILED(hr)) return hr;
    m_values[index] = std::move(stored);
    return WBEM_S_NO_ERROR;
  }

  STDMETHODIMP Delete(LPCWSTR name) override {
    if (!name) return WBEM_E_INVALID_PARAMETER;
    std::u16string wanted(name);
    if (isSystemName(wanted)) return WBEM_E_SYSTEM_PROPERTY;
    std::lock_guard<std::mutex> lock(m_mutex);
    int index = m_def->findProperty(wanted);
    if (index < 0) return WBEM_E_NOT_FOUND;
    if (m_genus == WBEM_GENUS_INSTANCE) {  // an instance goes back to the class default
      m_values[index] = m_def->properties[index].defaultValue;
      return WBEM_S_RESET_TO_DEFAULT;
    }
    if (!equalsIgnoreCase(m_def->properties[index].originClass, m_def->name)) {
      return WBEM_E_PROPAGATED_PROPERTY;
    }
    auto def = std::make_shared<ClassLayout>(*m_def);
    def->properties.erase(def->properties.begin() + index);
    m_def = std::move(def);
    m_values.erase(m_values.begin() + index);
    return WBEM_S_NO_ERROR;
  }

  STDMETHODIMP GetNames(LPCWSTR qualifierName, LONG flags, VARIANT* qualifierValue,
                        SAFEARRAY** names) override {
    if (!names) return WBEM_E_INVALID_PARAMETER;
    std::vector<std::u16string> list;
    std::lock_guard<std::mutex> lock(m_mutex);
    HRESULT hr = selectNames(qualifierName, flags, qualifierValue, list);
    if (FAILED(hr)) return hr;
    *names = makeStringArray(list);
    return *names ? WBEM_S_NO_ERROR : WBEM_E_OUT_OF_MEMORY;
  }

  STDMETHODIMP BeginEnumeration(LONG flags) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::u16string> list;
    HRESULT hr = selectNames(nullptr, flags, nullptr, list);
    if (FAILED(hr)) return hr;
    m_enumeration = std::move(list);
    m_enumerationAt = 0;
    return WBEM_S_NO_ERROR;
  }

  STDMETHODIMP Next(LONG, BSTR* name, VARIANT* value, CIMTYPE* type, LONG* flavor) override {
    std::u16string current;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      if (m_enumerationAt >= m_enumeration.size()) return WBEM_S_NO_MORE_DATA;
      current = m_enumeration[m_enumerationAt++];
    }
    if (name) *name = SysAllocStringLen(current.data(), UINT(current.size()));
    return Get(current.c_str(), 0, value, type, flavor);
  }

  STDMETHODIMP EndEnumeration() override {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_enumeration.clear();
    m_enumerationAt = 0;
    return WBEM_S_NO_ERROR;
  }

  STDMETHODIMP GetPropertyQualifierSet(LPCWSTR name, IWbemQualifierSet** out) override {
    if (!name || !out) return WBEM_E_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (isSystemName(name)) return WBEM_E_SYSTEM_PROPERTY;
    int index = m_def->findProperty(name);
    if (index < 0) return WBEM_E_NOT_FOUND;
    *out = makeQualifierSet(m_def->properties[index].qualifiers).detach();
    return WBEM_S_NO_ERROR;
  }

  // ---- whole objects ----
  STDMETHODIMP Clone(IWbemClassObject** out) override {
    if (!out) return WBEM_E_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(m_mutex);
    return create(m_def, m_genus, m_values, out);
  }

  STDMETHODIMP GetObjectText(LONG, BSTR* text) override {
    if (!text) return WBEM_E_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(m_mutex);
    std::u16string out =
        m_genus == WBEM_GENUS_CLASS ? u"class " + m_def->name : u"instance of " + m_def->name;
    if (m_genus == WBEM_GENUS_CLASS && !m_def->superclass().empty())
      out += u" : " + m_def->superclass();
    out += u"\n{\n";
    for (std::size_t i = 0; i < m_values.size(); ++i) {
      if (m_values[i].isNull()) continue;
      Variant shown;
      if (FAILED(coerceToCimType(*m_values[i].get(), CIM_STRING, shown))) {
        if (FAILED(coerceToCimType(*m_values[i].get(), CIM_SINT64, shown))) continue;
      }
      out += u"\t" + m_def->properties[i].name + u" = " + shown.asText() + u";\n";
    }
    out += u"};\n";
    *text = SysAllocStringLen(out.data(), UINT(out.size()));
    return *text ? WBEM_S_NO_ERROR : WBEM_E_OUT_OF_MEMORY;
  }

  STDMETHODIMP SpawnDerivedClass(LONG, IWbemClassObject**) override { return WBEM_E_NOT_SUPPORTED; }

  STDMETHODIMP SpawnInstance(LONG, IWbemClassObject** out) override {
    if (!out) return WBEM_E_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(m_mutex);
    // Each value copied once: a provider spawns an instance for every object it returns.
    std::vector<Variant> start;
    try {
      start = m_genus == WBEM_GENUS_CLASS ? m_values : defaultsOf(*m_def);
    } catch (const std::bad_alloc&) {
      *out = nullptr;
      return WBEM_E_OUT_OF_MEMORY;
    }
    return create(m_def, WBEM_GENUS_INSTANCE, std::move(start), out);
  }

  STDMETHODIMP CompareTo(LONG, IWbemClassObject*) override { return WBEM_E_NOT_SUPPORTED; }

  STDMETHODIMP GetPropertyOrigin(LPCWSTR name, BSTR* className) override {
    if (!name || !className) return WBEM_E_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(m_mutex);
    int index = m_def->findProperty(name);
    if (index < 0) return WBEM_E_NOT_FOUND;
    const std::u16string& origin = m_def->properties[index].originClass;
    *className = SysAllocStringLen(origin.data(), UINT(origin.size()));
    return WBEM_S_NO_ERROR;
  }

  STDMETHODIMP InheritsFrom(LPCWSTR ancestor) override {
    if (!ancestor) return WBEM_E_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const std::u16string& base : m_def->derivation) {
      if (equalsIgnoreCase(base, ancestor)) return WBEM_S_NO_ERROR;
    }
    return WBEM_S_FALSE;
  }

  // ---- methods ----
  STDMETHODIMP GetMethod(LPCWSTR name, LONG, IWbemClassObject** in,
                         IWbemClassObject** out) override {
    if (!name) return WBEM_E_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(m_mutex);
    const MethodDef* method = m_def->findMethod(name);
    if (!method) return WBEM_E_NOT_FOUND;
    return signatures(*method, in, out);
  }

  STDMETHODIMP PutMethod(LPCWSTR, LONG, IWbemClassObject*, IWbemClassObject*) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  STDMETHODIMP DeleteMethod(LPCWSTR) override { return WBEM_E_NOT_SUPPORTED; }

  STDMETHODIMP BeginMethodEnumeration(LONG) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_methodAt = 0;
    return WBEM_S_NO_ERROR;
  }

  STDMETHODIMP NextMethod(LONG, BSTR* name, IWbemClassObject** in,
                          IWbemClassObject** out) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_methodAt >= m_def->methods.size()) return WBEM_S_NO_MORE_DATA;
    const MethodDef& method = m_def->methods[m_methodAt++];
    if (name) *name = SysAllocStringLen(method.name.data(), UINT(method.name.size()));
    return signatures(method, in, out);
  }

  STDMETHODIMP EndMethodEnumeration() override { return BeginMethodEnumeration(0); }

  STDMETHODIMP GetMethodQualifierSet(LPCWSTR name, IWbemQualifierSet** out) override {
    if (!name || !out) return WBEM_E_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(m_mutex);
    const MethodDef* method = m_def->findMethod(name);
    if (!method) return WBEM_E_NOT_FOUND;
    *out = makeQualifierSet(method->qualifiers).detach();
    return WBEM_S_NO_ERROR;
  }

  STDMETHODIMP GetMethodOrigin(LPCWSTR name, BSTR* className) override {
    if (!name || !className) return WBEM_E_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(m_mutex);
    const MethodDef* method = m_def->findMethod(name);
    if (!method) return WBEM_E_NOT_FOUND;
    *className = SysAllocStringLen(method->originClass.data(), UINT(method->originClass.size()));
    return WBEM_S_NO_ERROR;
  }

  ObjectState state() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return ObjectState{m_def, m_genus, m_values};
  }

  std::optional<HRESULT> withState(HRESULT (*use)(const ObjectView&, void*), void* context) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const Variant& value : m_values) {
      const VARTYPE element = VARTYPE(value.vt() & ~VT_ARRAY);
      if (element == VT_UNKNOWN || element == VT_DISPATCH || element == VT_VARIANT) {
        return std::nullopt;
      }
    }
    return use(ObjectView{m_def, m_genus, m_values}, context);
  }

  static HRESULT create(std::shared_ptr<const ClassLayout> def, WBEM_GENUS_TYPE genus,
                        std::vector<Variant> values, IWbemClassObject** out) {
    try {
      *out = new ClassObject(std::move(def), genus, std::move(values));
      return WBEM_S_NO_ERROR;
    } catch (const std::bad_alloc&) {
      *out = nullptr;
      return WBEM_E_OUT_OF_MEMORY;
    }
  }

 private:
  HRESULT signatures(const MethodDef& method, IWbemClassObject** in, IWbemClassObject** out) {
    if (in) *in = method.inParameters ? makeClassObject(method.inParameters).detach() : nullptr;
    if (out) *out = method.outParameters ? makeClassObject(method.outParameters).detach() : nullptr;
    return WBEM_S_NO_ERROR;
  }

  std::optional<std::u16string> relativePath() const {
    if (m_genus == WBEM_GENUS_CLASS) return m_def->name;
    std::vector<KeyValue> keys;
    for (std::size_t i = 0; i < m_def->properties.size(); ++i) {
      const PropertyDef& p = m_def->properties[i];
      if (p.isKey()) keys.push_back({p.name, m_values[i], p.type});
    }
    return formatRelativePath(m_def->name, std::move(keys), m_def->isSingleton());
  }

  bool systemValue(const std::u16string& name, Variant& out, CIMTYPE& type) const {
    type = CIM_STRING;
    if (equalsIgnoreCase(name, u"__GENUS")) {
      out = Variant::int32(m_genus);
      type = CIM_SINT32;
    } else if (equalsIgnoreCase(name, u"__CLASS")) {
      out = textOrNull(m_def->name);
    } else if (equalsIgnoreCase(name, u"__SUPERCLASS")) {
      out = textOrNull(m_def->superclass());
    } else if (equalsIgnoreCase(name, u"__DYNASTY")) {
      out = textOrNull(m_def->dynasty());
    } else if (equalsIgnoreCase(name, u"__RELPATH")) {
      std::optional<std::u16string> rel = relativePath();
      out = rel ? Variant::text(*rel) : Variant::null();
    } else if (equalsIgnoreCase(name, u"__PROPERTY_COUNT")) {
      out = Variant::int32(LONG(m_def->properties.size()));
      type = CIM_SINT32;
    } else if (equalsIgnoreCase(name, u"__DERIVATION")) {
      out = Variant();
      out.get()->parray = makeStringArray(m_def->derivation);
      if (!out.get()->parray) throw std::bad_alloc();
      out.get()->vt = VT_ARRAY | VT_BSTR;
      type = CIM_STRING | CIM_FLAG_ARRAY;
    } else if (equalsIgnoreCase(name, u"__SERVER")) {
      out = textOrNull(m_def->server);
    } else if (equalsIgnoreCase(name, u"__NAMESPACE")) {
      out = textOrNull(m_def->nameSpace);
    } else if (equalsIgnoreCase(name, u"__PATH")) {
      std::optional<std::u16string> rel = relativePath();
      bool whole = rel && !m_def->server.empty() && !m_def->nameSpace.empty();
      out = whole ? Variant::text(formatFullPath(m_def->server, m_def->nameSpace, *rel))
                  : Variant::null();
    } else {
      return false;
    }
    return true;
  }

  HRESULT selectNames(LPCWSTR qualifierName, LONG flags, VARIANT* qualifierValue,
                      std::vector<std::u16string>& out) const {
    const LONG known = WBEM_MASK_PRIMARY_CONDITION | WBEM_FLAG_KEYS_ONLY | WBEM_FLAG_REFS_ONLY |
                       WBEM_MASK_CONDITION_ORIGIN;
    if (flags & ~known) return WBEM_E_INVALID_PARAMETER;
    LONG condition = flags & WBEM_MASK_PRIMARY_CONDITION;
    LONG origin = flags & WBEM_MASK_CONDITION_ORIGIN;
    if ((condition == WBEM_FLAG_ALWAYS) != (qualifierName == nullptr)) {
      return WBEM_E_INVALID_PARAMETER;
    }
    if (condition == WBEM_FLAG_ONLY_IF_IDENTICAL && !qualifierValue) {
      return WBEM_E_INVALID_PARAMETER;
    }
    if (origin != 0 && origin != WBEM_FLAG_LOCAL_ONLY && origin != WBEM_FLAG_PROPAGATED_ONLY &&
        origin != WBEM_FLAG_SYSTEM_ONLY && origin != WBEM_FLAG_NONSYSTEM_ONLY) {
      return WBEM_E_INVALID_PARAMETER;
    }
    bool filtered = condition != WBEM_FLAG_ALWAYS || (flags & WBEM_FLAG_KEYS_ONLY) ||
                    (flags & WBEM_FLAG_REFS_ONLY);
    if (!filtered && (origin == 0 || origin == WBEM_FLAG_SYSTEM_ONLY)) {
      for (const char16_t* name : kSystemProperties) out.emplace_back(name);
    }
    if (origin == WBEM_FLAG_SYSTEM_ONLY) return WBEM_S_NO_ERROR;
    for (const PropertyDef& p : m_def->properties) {
      bool local = equalsIgnoreCase(p.originClass, m_def->name);
      if (origin == WBEM_FLAG_LOCAL_ONLY && !local) continue;
      if (origin == WBEM_FLAG_PROPAGATED_ONLY && local) continue;
      if ((flags & WBEM_FLAG_KEYS_ONLY) && !p.isKey()) continue;
      if ((flags & WBEM_FLAG_REFS_ONLY) && (p.type & ~CIM_FLAG_ARRAY) != CIM_REFERENCE) continue;
      if (condition != WBEM_FLAG_ALWAYS) {
        const Qualifier* q = findQualifier(p.qualifiers, qualifierName);
        bool set = qualifierIsSet(p.qualifiers, qualifierName);
        if (condition == WBEM_FLAG_ONLY_IF_TRUE && !set) continue;
        if (condition == WBEM_FLAG_ONLY_IF_FALSE && set) continue;
        if (condition == WBEM_FLAG_ONLY_IF_IDENTICAL &&
            (!q || comparable(*q->value.get()) != comparable(*qualifierValue))) {
          continue;
        }
      }
      out.push_back(p.name);
    }
    return WBEM_S_NO_ERROR;
  }

  mutable std::mutex m_mutex;
  std::shared_ptr<const ClassLayout> m_def;
  const WBEM_GENUS_TYPE m_genus;
  std::vector<Variant> m_values;
  std::vector<std::u16string> m_enumeration;
  std::size_t m_enumerationAt = 0;
  std::size_t m_methodAt = 0;
};

}  // namespace

ComPtr<IWbemClassObject> makeClassObject(std::shared_ptr<const ClassLayout> def) {
  IWbemClassObject* out = nullptr;
  std::vector<Variant> values = defaultsOf(*def);
  if (FAILED(ClassObject::create(std::move(def), WBEM_GENUS_CLASS, std::move(values), &out))) {
    throw std::bad_alloc();
  }
  return ComPtr<IWbemClassObject>(out);
}

ComPtr<IWbemClassObject> makeClassObject(const std::shared_ptr<const ClassDef>& def) {
  return makeClassObject(def->layout());
}

std::optional<ObjectState> stateOf(IWbemClassObject* object) {
  auto* ours = dynamic_cast<ClassObject*>(object);
  if (ours == nullptr) return std::nullopt;
  return ours->state();
}

std::optional<HRESULT> withStateOf(IWbemClassObject* object,
                                   HRESULT (*use)(const ObjectView& state, void* context),
                                   void* context) {
  auto* ours = dynamic_cast<ClassObject*>(object);
  if (ours == nullptr) return std::nullopt;
  return ours->withState(use, context);
}

ComPtr<IWbemClassObject> makeObject(ObjectState state) {
  if (!state.layout || state.values.size() != state.layout->properties.size()) return {};
  if (state.genus != WBEM_GENUS_CLASS && state.genus != WBEM_GENUS_INSTANCE) return {};
  IWbemClassObject* out = nullptr;
  if (FAILED(ClassObject::create(std::move(state.layout), state.genus, std::move(state.values),
                                 &out))) {
    return {};
  }
  return ComPtr<IWbemClassObject>(out);
}

ComPtr<IWbemQualifierSet> makeQualifierSet(const Qualifiers& qualifiers) {
  return ComPtr<IWbemQualifierSet>(new QualifierSet(qualifiers));
}

}  // namespace velt::wmi::detail
