#include "class_info.h"

#include <algorithm>
#include <cctype>

#include "object_view.h"
#include "value_typing.h"

namespace veltwmi {
namespace {

bool qualifierSet(IWbemQualifierSet* set, const char16_t* name, std::string* text = nullptr) {
  if (!set) return false;
  OwnedVariant value;
  if (FAILED(set->Get(name, 0, value.get(), nullptr))) return false;
  if (text && value.get()->vt == VT_BSTR) *text = utf8FromUtf16(value.get()->bstrVal);
  return value.get()->vt != VT_BOOL || value.get()->boolVal;
}

std::string textProperty(IWbemClassObject* object, const char16_t* name) {
  OwnedVariant value;
  object->Get(name, 0, value.get(), nullptr, nullptr);
  return value.get()->vt == VT_BSTR ? utf8FromUtf16(value.get()->bstrVal) : std::string();
}

bool sameWord(const std::string& a, const char* b) {
  std::size_t i = 0;
  for (; i < a.size() && b[i]; ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != b[i]) return false;
  }
  return i == a.size() && !b[i];
}

QualifierTexts propertyQualifiers(IWbemClassObject* object, const std::string& name) {
  IWbemQualifierSet* set = nullptr;
  std::u16string wide = utf16FromUtf8(name);
  if (FAILED(object->GetPropertyQualifierSet(wide.c_str(), &set))) return {};
  QualifierTexts texts = qualifierTexts(set);
  set->Release();
  return texts;
}

void addParameters(IWbemClassObject* signature, bool in, ClassInfo::Method& method) {
  if (!signature) return;
  for (const PropertyValue& p : viewOf(signature).properties) {
    if (!in && p.name == "ReturnValue") {
      method.returns = cimTypeName(p.type);
      continue;
    }
    auto known = std::find_if(method.parameters.begin(), method.parameters.end(),
                              [&](const ClassInfo::Parameter& q) { return q.name == p.name; });
    if (known == method.parameters.end()) {
      QualifierTexts qualifiers;
      for (QualifierText& q : propertyQualifiers(signature, p.name)) {
        if (!sameWord(q.name, "in") && !sameWord(q.name, "out") && !sameWord(q.name, "id")) {
          qualifiers.push_back(std::move(q));
        }
      }
      method.parameters.push_back({p.name, p.type, in, !in, std::move(qualifiers)});
    } else {
      (in ? known->in : known->out) = true;
    }
  }
}

// "[a, b(\"x\")] " or nothing; `first` come before the qualifiers of the set.
std::string qualifierList(std::vector<std::string> first, const QualifierTexts& qualifiers) {
  for (const QualifierText& q : qualifiers) {
    if (q.value == "TRUE") {
      first.push_back(q.name);
    } else if (!q.value.empty() && q.value.front() == '{') {
      first.push_back(q.name + q.value);
    } else {
      first.push_back(q.name + "(" + q.value + ")");
    }
  }
  if (first.empty()) return {};
  std::string text = "[";
  for (std::size_t i = 0; i < first.size(); ++i) text += (i ? ", " : "") + first[i];
  return text + "] ";
}

std::string direction(const ClassInfo::Parameter& p) {
  return p.in && p.out ? "in, out" : p.in ? "in" : "out";
}

std::string signatureOf(const ClassInfo::Method& m, bool mof) {
  std::string text = m.returns + " " + m.name + "(";
  for (std::size_t i = 0; i < m.parameters.size(); ++i) {
    const ClassInfo::Parameter& p = m.parameters[i];
    if (i) text += ", ";
    std::string type = cimTypeName(p.type);
    bool array = type.size() > 2 && type.compare(type.size() - 2, 2, "[]") == 0;
    if (mof) {
      text += qualifierList({direction(p)}, p.qualifiers) +
              (array ? type.substr(0, type.size() - 2) : type) + " " + p.name + (array ? "[]" : "");
    } else {
      text += direction(p) + " " + type + " " + p.name;
    }
  }
  return text + ")";
}

}  // namespace

QualifierTexts qualifierTexts(IWbemQualifierSet* set) {
  QualifierTexts texts;
  if (!set) return texts;
  set->BeginEnumeration(0);
  for (;;) {
    UniqueBstr name;
    PropertyValue value;
    if (set->Next(0, name.put(), value.value.get(), nullptr) != WBEM_S_NO_ERROR) break;
    texts.push_back({utf8FromUtf16(name.get()), mofText(value)});
  }
  set->EndEnumeration();
  return texts;
}

ClassInfo classInfoOf(IWbemClassObject* cls) {
  ClassInfo info;
  info.name = textProperty(cls, u"__CLASS");
  info.superclass = textProperty(cls, u"__SUPERCLASS");
  IWbemQualifierSet* qualifiers = nullptr;
  if (SUCCEEDED(cls->GetQualifierSet(&qualifiers))) {
    if (qualifierSet(qualifiers, u"dynamic")) qualifierSet(qualifiers, u"provider", &info.provider);
    info.singleton = qualifierSet(qualifiers, u"singleton");
    info.qualifiers = qualifierTexts(qualifiers);
    qualifiers->Release();
  }
  for (const PropertyValue& p : viewOf(cls).properties) {
    ClassInfo::Property property{p.name, p.type, false, {}};
    IWbemQualifierSet* set = nullptr;
    std::u16string wide = utf16FromUtf8(p.name);
    if (SUCCEEDED(cls->GetPropertyQualifierSet(wide.c_str(), &set))) {
      property.key = qualifierSet(set, u"key");
      property.qualifiers = qualifierTexts(set);
      set->Release();
    }
    info.properties.push_back(property);
  }
  cls->BeginMethodEnumeration(0);
  for (;;) {
    UniqueBstr name;
    ComPtr<IWbemClassObject> in, out;
    if (cls->NextMethod(0, name.put(), in.put(), out.put()) != WBEM_S_NO_ERROR) break;
    ClassInfo::Method method{utf8FromUtf16(name.get()), "void", {}, false, {}};
    ComPtr<IWbemQualifierSet> set;
    if (SUCCEEDED(cls->GetMethodQualifierSet(name.get(), set.put()))) {
      method.isStatic = qualifierSet(set.get(), u"static");
      method.qualifiers = qualifierTexts(set.get());
    }
    addParameters(in.get(), true, method);
    addParameters(out.get(), false, method);
    info.methods.push_back(std::move(method));
  }
  cls->EndMethodEnumeration();
  return info;
}

std::string classListing(const ClassInfo& info) {
  std::string text = info.name;
  if (!info.superclass.empty()) text += " : " + info.superclass;
  if (!info.provider.empty()) text += "  (provider " + info.provider + ")";
  if (info.singleton) text += "  (singleton)";
  text += "\n";
  std::size_t width = 0;
  for (const auto& p : info.properties) width = std::max(width, cimTypeName(p.type).size());
  for (const auto& p : info.properties) {
    std::string type = cimTypeName(p.type);
    text += std::string(p.key ? "  key " : "      ") + type +
            std::string(width - type.size(), ' ') + "  " + p.name + "\n";
  }
  for (const auto& m : info.methods) {
    text +=
        std::string(m.isStatic ? "  static method " : "  method ") + signatureOf(m, false) + "\n";
  }
  return text;
}

std::string classJson(const ClassInfo& info) {
  std::string text = "{\"class\": " + jsonQuote(info.name);
  text += ", \"superclass\": " + (info.superclass.empty() ? "null" : jsonQuote(info.superclass));
  text += ", \"provider\": " + (info.provider.empty() ? "null" : jsonQuote(info.provider));
  text += ", \"keys\": [";
  bool first = true;
  for (const auto& p : info.properties) {
    if (!p.key) continue;
    text += (first ? "" : ", ") + jsonQuote(p.name);
    first = false;
  }
  text += "], \"properties\": [";
  for (std::size_t i = 0; i < info.properties.size(); ++i) {
    const auto& p = info.properties[i];
    text += (i ? ", " : "") + std::string("{\"name\": ") + jsonQuote(p.name) +
            ", \"type\": " + jsonQuote(cimTypeName(p.type)) +
            ", \"key\": " + (p.key ? "true" : "false") + "}";
  }
  text += "], \"methods\": [";
  for (std::size_t i = 0; i < info.methods.size(); ++i) {
    const auto& m = info.methods[i];
    text += (i ? ", " : "") + std::string("{\"name\": ") + jsonQuote(m.name) +
            ", \"returns\": " + jsonQuote(m.returns) +
            ", \"static\": " + (m.isStatic ? "true" : "false") + ", \"parameters\": [";
    for (std::size_t j = 0; j < m.parameters.size(); ++j) {
      const auto& p = m.parameters[j];
      text += (j ? ", " : "") + std::string("{\"name\": ") + jsonQuote(p.name) +
              ", \"type\": " + jsonQuote(cimTypeName(p.type)) +
              ", \"direction\": " + jsonQuote(direction(p)) + "}";
    }
    text += "]}";
  }
  return text + "]}";
}

std::string classMof(const ClassInfo& info) {
  std::string text = qualifierList({}, info.qualifiers);
  if (!text.empty()) text.back() = '\n';
  text += "class " + info.name + (info.superclass.empty() ? "" : " : " + info.superclass) + "\n{\n";
  for (const auto& p : info.properties) {
    std::string type = cimTypeName(p.type);
    bool array = type.size() > 2 && type.compare(type.size() - 2, 2, "[]") == 0;
    text += "    " + qualifierList({}, p.qualifiers) +
            (array ? type.substr(0, type.size() - 2) : type) + " " + p.name + (array ? "[]" : "") +
            ";\n";
  }
  for (const auto& m : info.methods) {
    text += "    " + qualifierList({}, m.qualifiers) + signatureOf(m, true) + ";\n";
  }
  return text + "};\n";
}

}  // namespace veltwmi
