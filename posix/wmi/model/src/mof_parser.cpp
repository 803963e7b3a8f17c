#include "wmi_model/mof_reader.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <map>
#include <optional>
#include <unordered_set>

#include "mof_lexer.h"
#include "mof_values.h"
#include "wmi_model/mof_error.h"

namespace velt::wmi::detail {
namespace {

CIMTYPE typeFromName(const std::string& name) {
  static const std::pair<const char*, CIMTYPE> kTypes[] = {
      {"sint8", CIM_SINT8},       {"uint8", CIM_UINT8},     {"sint16", CIM_SINT16},
      {"uint16", CIM_UINT16},     {"sint32", CIM_SINT32},   {"uint32", CIM_UINT32},
      {"sint64", CIM_SINT64},     {"uint64", CIM_UINT64},   {"real32", CIM_REAL32},
      {"real64", CIM_REAL64},     {"boolean", CIM_BOOLEAN}, {"string", CIM_STRING},
      {"datetime", CIM_DATETIME}, {"char16", CIM_CHAR16},   {"object", CIM_OBJECT}};
  std::string lower;
  for (char c : name) lower += char(std::tolower(static_cast<unsigned char>(c)));
  for (const auto& [n, t] : kTypes) {
    if (lower == n) return t;
  }
  return CIM_ILLEGAL;
}

bool sameWord(const std::string& a, const char* b) {
  std::size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != b[i]) return false;
  }
  return true;
}

using Value = MofValue;

MofPlace placeOf(const Token& t) { return {t.line, t.column}; }

class Parser {
 public:
  Parser(std::string_view text, const std::string& file, const std::u16string& server,
         const EarlierClasses& earlier)
      : m_lexer(text, file), m_earlier(earlier), m_server(server) {
    m_document.fileName = file;
    m_token = m_lexer.next();
  }

  MofDocument run() {
    while (m_token.kind != Tok::kEnd) {
      if (isPunct("#")) {
        pragma();
        continue;
      }
      std::size_t begin = m_token.offset;
      Qualifiers qualifiers = qualifierList();
      if (isWord("class")) {
        classDeclaration(std::move(qualifiers), begin);
      } else if (isWord("instance")) {
        instanceDeclaration();
      } else {
        fail(m_token, "'class' or 'instance' expected");
      }
    }
    return std::move(m_document);
  }

 private:
  [[noreturn]] void fail(const Token& at, const std::string& message) {
    m_lexer.fail(at.line, at.column, message);
  }
  [[noreturn]] void fail(MofPlace at, const std::string& message) {
    m_lexer.fail(at.line, at.column, message);
  }

  bool isPunct(const char* p) const { return m_token.kind == Tok::kPunct && m_token.text == p; }
  bool isWord(const char* w) const {
    return m_token.kind == Tok::kIdent && sameWord(m_token.text, w);
  }

  Token take() {
    Token t = m_token;
    m_token = m_lexer.next();
    return t;
  }
  Token expectPunct(const char* p) {
    if (!isPunct(p)) fail(m_token, std::string("'") + p + "' expected");
    return take();
  }
  Token expectIdent(const char* what) {
    if (m_token.kind != Tok::kIdent) fail(m_token, std::string(what) + " expected");
    return take();
  }

  // A class of this text in the namespace in force, else one read before.
  std::shared_ptr<const ClassDef> findClass(const std::u16string& name) const {
    auto it = m_classes.find(toLower(m_namespace) + u'|' + toLower(name));
    if (it != m_classes.end()) return it->second;
    return m_earlier ? m_earlier(m_namespace, name) : nullptr;
  }

  void pragma() {
    take();
    Token name = expectIdent("pragma name");
    if (!sameWord(name.text, "pragma")) fail(name, "'pragma' expected after '#'");
    Token which = expectIdent("pragma name");
    expectPunct("(");
    if (m_token.kind != Tok::kString) fail(m_token, "string expected");
    Token value = take();
    expectPunct(")");
    if (!sameWord(which.text, "namespace")) return;  // other pragmas do not change the model
    std::u16string ns = utf16FromUtf8(value.text);
    while (!ns.empty() && ns.back() == u'\\') ns.pop_back();
    if (ns.rfind(u"\\\\", 0) == 0) {  // \\server\namespace
      std::size_t slash = ns.find(u'\\', 2);
      if (slash == std::u16string::npos) fail(value, "namespace expected after the server name");
      ns = ns.substr(slash + 1);
    } else if (ns.rfind(u"\\", 0) == 0) {  // \root\...: from the top
      ns = ns.substr(1);
    } else if (!equalsIgnoreCase(ns.substr(0, ns.find(u'\\')), u"root")) {
      ns = m_namespace + u"\\" + ns;  // relative to the namespace in force
    }
    if (ns.empty()) fail(value, "empty namespace name");
    if (ns.find(u"\\\\") != std::u16string::npos) fail(value, "empty part in namespace name");
    if (!equalsIgnoreCase(ns.substr(0, ns.find(u'\\')), u"root")) {
      fail(value, "namespace " + utf8FromUtf16(ns) + " is not under root");
    }
    m_namespace = ns;
  }

  Qualifiers qualifierList() {
    Qualifiers out;
    if (!isPunct("[")) return out;
    take();
    std::unordered_set<std::u16string> names;
    while (true) {
      Token name = expectIdent("qualifier name");
      Qualifier q;
      q.name = utf16FromUtf8(name.text);
      if (!names.insert(toLower(q.name)).second) {
        fail(name, "qualifier " + name.text + " given twice");
      }
      if (isPunct("(")) {
        take();
        Value v = constant();
        expectPunct(")");
        q.value = std::move(v.items.front());
      } else if (isPunct("{")) {
        Value v = arrayValue();
        Variant array;
        bool allText = true;
        for (const Variant& item : v.items) allText = allText && item.vt() == VT_BSTR;
        if (FAILED(coerceElements(v.items, (allText ? CIM_STRING : CIM_SINT64) | CIM_FLAG_ARRAY,
                                  array))) {
          fail(v.at, "qualifier values must share one type");
        }
        q.value = std::move(array);
      } else {
        q.value = Variant::boolean(true);
      }
      if (isPunct(":")) {  // flavours: ToSubclass, ToInstance, Amended, ...
        take();
        while (m_token.kind == Tok::kIdent) take();
      }
      out.push_back(std::move(q));
      if (isPunct("]")) break;
      expectPunct(",");
    }
    take();
    return out;
  }

  Value constant() {
    Value v;
    v.at = placeOf(m_token);
    bool negative = false;
    switch (m_token.kind) {
      case Tok::kString: {
        std::string text;
        while (m_token.kind == Tok::kString) text += take().text;  // adjacent strings join
        v.items.push_back(Variant::text(utf16FromUtf8(text)));
        return v;
      }
      case Tok::kChar: {
        std::u16string c = utf16FromUtf8(take().text);
        Variant x;
        x.get()->vt = VT_UI2;
        x.get()->uiVal = c.empty() ? 0 : c[0];
        v.items.push_back(std::move(x));
        return v;
      }
      case Tok::kInteger: {
        std::string text = take().text;
        negative = text[0] == '-';
        std::string digits = text.substr(text[0] == '-' || text[0] == '+' ? 1 : 0);
        errno = 0;
        char* end = nullptr;
        unsigned long long magnitude = std::strtoull(digits.c_str(), &end, 0);
        if (errno == ERANGE || *end) fail(v.at, "integer out of range");
        Variant x;
        if (negative) {
          if (magnitude > 0x8000000000000000ull) fail(v.at, "integer out of range");
          x.get()->vt = VT_I8;
          x.get()->llVal = magnitude == 0 ? 0 : int64_t(~(magnitude - 1));
        } else {
          x.get()->vt = VT_UI8;
          x.get()->ullVal = magnitude;
        }
        v.items.push_back(std::move(x));
        return v;
      }
      case Tok::kReal: {
        Variant x;
        x.get()->vt = VT_R8;
        x.get()->dblVal = std::strtod(take().text.c_str(), nullptr);
        if (!std::isfinite(x.get()->dblVal)) fail(v.at, "real number out of range");
        v.items.push_back(std::move(x));
        return v;
      }
      case Tok::kAlias:
        v.isAlias = true;
        v.items.push_back(Variant::text(utf16FromUtf8(take().text)));
        return v;
      case Tok::kIdent:
        if (isWord("true") || isWord("false")) {
          v.items.push_back(Variant::boolean(isWord("true")));
          take();
          return v;
        }
        if (isWord("null")) {
          take();
          v.items.push_back(Variant::null());
          return v;
        }
        [[fallthrough]];
      default:
        fail(m_token, "value expected");
    }
  }

  Value arrayValue() {
    Value v;
    v.at = placeOf(expectPunct("{"));
    v.isArray = true;
    if (!isPunct("}")) {
      while (true) {
        Value item = constant();
        if (item.isAlias) fail(item.at, "an alias cannot be an array element");
        v.items.push_back(std::move(item.items.front()));
        if (isPunct("}")) break;
        expectPunct(",");
      }
    }
    take();
    return v;
  }

  Value initializer() { return isPunct("{") ? arrayValue() : constant(); }

  Variant typedValue(const Value& v, CIMTYPE type) {
    if (v.isAlias) fail(v.at, "an alias is not a value of type " + typeName(type));
    bool wantArray = (type & CIM_FLAG_ARRAY) != 0;
    if (!v.isArray && v.items.front().isNull()) return Variant::null();
    if (wantArray != v.isArray) {
      fail(v.at, wantArray ? "array value expected" : "single value expected");
    }
    for (const Variant& item : v.items) {
      if (std::optional<std::string> fault = mofValueFault(item, type & ~CIM_FLAG_ARRAY)) {
        fail(v.at, *fault);
      }
    }
    Variant out;
    HRESULT hr = wantArray ? coerceElements(v.items, type, out)
                           : coerceToCimType(*v.items.front().get(), type, out);
    if (FAILED(hr)) fail(v.at, "value does not fit type " + typeName(type));
    return out;
  }

  static std::string typeName(CIMTYPE type) {
    static const std::pair<CIMTYPE, const char*> kNames[] = {
        {CIM_SINT8, "sint8"},       {CIM_UINT8, "uint8"},     {CIM_SINT16, "sint16"},
        {CIM_UINT16, "uint16"},     {CIM_SINT32, "sint32"},   {CIM_UINT32, "uint32"},
        {CIM_SINT64, "sint64"},     {CIM_UINT64, "uint64"},   {CIM_REAL32, "real32"},
        {CIM_REAL64, "real64"},     {CIM_BOOLEAN, "boolean"}, {CIM_STRING, "string"},
        {CIM_DATETIME, "datetime"}, {CIM_CHAR16, "char16"},   {CIM_OBJECT, "object"},
        {CIM_REFERENCE, "ref"}};
    for (const auto& [t, n] : kNames) {
      if (t == (type & ~CIM_FLAG_ARRAY))
        return std::string(n) + ((type & CIM_FLAG_ARRAY) ? "[]" : "");
    }
    return "?";
  }

  // A data type, or `ClassName ref`; `void` only where `allowVoid`.
  CIMTYPE dataType(bool allowVoid, Token& at) {
    at = expectIdent("type");
    if (allowVoid && sameWord(at.text, "void")) return CIM_EMPTY;
    if (isWord("ref")) {
      take();
      return CIM_REFERENCE;
    }
    CIMTYPE t = typeFromName(at.text);
    if (t == CIM_ILLEGAL) fail(at, "unknown type " + at.text);
    return t;
  }

  CIMTYPE arraySuffix(CIMTYPE type) {
    if (!isPunct("[")) return type;
    take();
    if (m_token.kind == Tok::kInteger) take();
    expectPunct("]");
    return type | CIM_FLAG_ARRAY;
  }

  void classDeclaration(Qualifiers qualifiers, std::size_t begin) {
    take();
    Token name = expectIdent("class name");
    auto def = std::make_shared<ClassDef>();
    def->name = utf16FromUtf8(name.text);
    def->nameSpace = m_namespace;
    def->server = m_server;
    def->qualifiers = std::move(qualifiers);
    if (isPunct(":")) {
      take();
      Token super = expectIdent("superclass name");
      std::shared_ptr<const ClassDef> base = findClass(utf16FromUtf8(super.text));
      if (!base) fail(super, "unknown superclass " + super.text);
      def->base = std::move(base);
    }
    Declared declared;
    expectPunct("{");
    while (!isPunct("}")) feature(*def, declared);
    take();
    std::size_t end = expectPunct(";").offset + 1;
    if (qualifierIsSet(def->qualifiers, u"dynamic") &&
        !findQualifier(def->qualifiers, u"provider")) {
      fail(name, "dynamic class " + name.text + " names no provider");
    }
    def->index();
    m_classes[toLower(m_namespace) + u'|' + toLower(def->name)] = def;
    m_document.classes.push_back(std::move(def));
    m_document.classSources.push_back({placeOf(name), begin, end});
  }

  // The names a class body declared so far, lower case.
  struct Declared {
    std::unordered_set<std::u16string> properties;
    std::unordered_set<std::u16string> methods;
  };

  // System properties (__CLASS, __PATH, ...) are the service's: a declared one could be
  // neither read nor written.
  void requireOrdinaryName(const Token& name, const char* what) {
    if (name.text.rfind("__", 0) == 0) {
      fail(name, std::string(what) + " " + name.text +
                     ": names beginning with __ are reserved for system properties");
    }
  }

  void feature(ClassDef& def, Declared& declared) {
    Qualifiers qualifiers = qualifierList();
    Token typeAt;
    CIMTYPE type = dataType(true, typeAt);
    Token name = expectIdent("property or method name");
    std::u16string wname = utf16FromUtf8(name.text);
    if (isPunct("(")) {
      method(def, declared, std::move(qualifiers), type, name);
      return;
    }
    requireOrdinaryName(name, "property");
    if (type == CIM_EMPTY) fail(typeAt, "a property cannot be void");
    type = arraySuffix(type);
    PropertyDef p{wname, type, std::move(qualifiers), Variant::null(), def.name};
    if (isPunct("=")) {
      take();
      p.defaultValue = typedValue(initializer(), type);
    }
    expectPunct(";");
    if (p.isKey() && ((type & CIM_FLAG_ARRAY) || type == CIM_REAL32 || type == CIM_REAL64 ||
                      type == CIM_OBJECT)) {
      fail(name, "property " + name.text + " cannot be a key");
    }
    if (!declared.properties.insert(toLower(wname)).second) {
      fail(name, "property " + name.text + " declared twice");
    }
    // An override keeps the inherited origin and type; the layout merges the rest.
    const PropertyDef* inherited = def.base ? def.base->findProperty(wname) : nullptr;
    if (inherited && inherited->type != type) {
      fail(name, "override of " + name.text + " changes its type");
    }
    def.properties.push_back(std::move(p));
  }

  void method(ClassDef& def, Declared& declared, Qualifiers qualifiers, CIMTYPE returnType,
              const Token& name) {
    take();  // (
    auto in = std::make_shared<ClassLayout>();
    auto out = std::make_shared<ClassLayout>();
    in->name = out->name = u"__PARAMETERS";
    std::unordered_set<std::u16string> parameters;
    LONG id = 0;
    while (!isPunct(")")) {
      Qualifiers pq = qualifierList();
      Token typeAt;
      CIMTYPE type = dataType(false, typeAt);
      Token param = expectIdent("parameter name");
      requireOrdinaryName(param, "parameter");
      type = arraySuffix(type);
      Variant defaultValue = Variant::null();
      if (isPunct("=")) {
        take();
        defaultValue = typedValue(initializer(), type);
      }
      bool isIn = qualifierIsSet(pq, u"in");
      bool isOut = qualifierIsSet(pq, u"out");
      if (!isIn && !isOut) isIn = true;
      std::u16string pname = utf16FromUtf8(param.text);
      if (!parameters.insert(toLower(pname)).second) {
        fail(param, "parameter " + param.text + " declared twice");
      }
      pq.push_back({u"ID", Variant::int32(id++), 0});
      PropertyDef p{pname, type, pq, defaultValue, u"__PARAMETERS"};
      if (isIn) in->properties.push_back(p);
      if (isOut) out->properties.push_back(p);
      if (isPunct(")")) break;
      expectPunct(",");
    }
    take();
    expectPunct(";");
    if (returnType != CIM_EMPTY) {
      out->properties.insert(out->properties.begin(),
                             PropertyDef{u"ReturnValue",
                                         returnType,
                                         {{u"out", Variant::boolean(true), 0}},
                                         Variant::null(),
                                         u"__PARAMETERS"});
    }
    std::u16string wname = utf16FromUtf8(name.text);
    if (!declared.methods.insert(toLower(wname)).second) {
      fail(name, "method " + name.text + " declared twice");
    }
    def.methods.push_back({wname, std::move(qualifiers), in->properties.empty() ? nullptr : in,
                           out->properties.empty() ? nullptr : out, def.name});
  }

  void instanceDeclaration() {
    take();
    if (!isWord("of")) fail(m_token, "'of' expected");
    take();
    MofInstance instance;
    instance.nameSpace = m_namespace;
    Token className = expectIdent("class name");
    instance.className = className.text;
    instance.at = placeOf(className);
    if (isWord("as")) {
      take();
      if (m_token.kind != Tok::kAlias) fail(m_token, "alias expected after 'as'");
      instance.alias = take().text;
    }
    expectPunct("{");
    while (!isPunct("}")) {
      qualifierList();
      Token property = expectIdent("property name");
      expectPunct("=");
      Value v = initializer();
      expectPunct(";");
      std::string key;
      for (char c : property.text) key += char(std::tolower(static_cast<unsigned char>(c)));
      if (instance.values.count(key)) fail(property, "property " + property.text + " given twice");
      instance.values.emplace(key, std::move(v));
    }
    take();
    expectPunct(";");
    m_document.instances.push_back(std::move(instance));
  }

 private:
  Lexer m_lexer;
  const EarlierClasses& m_earlier;
  Token m_token;
  std::u16string m_namespace = u"root\\default";
  std::u16string m_server;
  MofDocument m_document;
  std::map<std::u16string, std::shared_ptr<const ClassDef>> m_classes;  // by "namespace|class"
};

}  // namespace

void MofDocument::fail(MofPlace at, const std::string& message) const {
  throw MofError(fileName, at.line, at.column, message);
}

MofDocument readMof(std::string_view text, const std::string& fileName,
                    const std::u16string& server, const EarlierClasses& earlier) {
  return Parser(text, fileName, server, earlier).run();
}

}  // namespace velt::wmi::detail
