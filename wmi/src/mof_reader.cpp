#include "mof_reader.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>

#include "wmi/mof_error.h"

namespace velt::wmi::detail {
namespace {

enum class Tok { kIdent, kString, kInteger, kReal, kChar, kAlias, kPunct, kEnd };

struct Token {
  Tok kind = Tok::kEnd;
  std::string text;  // identifier, punctuation, alias name, or the decoded string (UTF-8)
  int line = 0;
  int column = 0;
};

class Lexer {
 public:
  Lexer(std::string_view text, const std::string& file) : s_(text), file_(file) {}

  [[noreturn]] void fail(int line, int column, const std::string& message) const {
    throw MofError(file_, line, column, message);
  }

  Token next() {
    skipSpace();
    Token t;
    t.line = line_;
    t.column = column_;
    if (at_ >= s_.size()) return t;
    char c = s_[at_];
    if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
      t.kind = Tok::kIdent;
      while (at_ < s_.size() &&
             (std::isalnum(static_cast<unsigned char>(s_[at_])) || s_[at_] == '_')) {
        t.text += advance();
      }
      return t;
    }
    if (c == '$') {
      advance();
      t.kind = Tok::kAlias;
      while (at_ < s_.size() &&
             (std::isalnum(static_cast<unsigned char>(s_[at_])) || s_[at_] == '_')) {
        t.text += advance();
      }
      if (t.text.empty()) fail(t.line, t.column, "alias name expected after '$'");
      return t;
    }
    if (c == '"') return quoted(t, '"');
    if (c == '\'') {
      quoted(t, '\'');
      t.kind = Tok::kChar;
      if (t.text.empty()) fail(t.line, t.column, "empty character literal");
      return t;
    }
    if (std::isdigit(static_cast<unsigned char>(c)) ||
        ((c == '-' || c == '+') && at_ + 1 < s_.size() &&
         std::isdigit(static_cast<unsigned char>(s_[at_ + 1])))) {
      return number(t);
    }
    if (std::string_view("{}[]();,=:#").find(c) != std::string_view::npos) {
      t.kind = Tok::kPunct;
      t.text = std::string(1, advance());
      return t;
    }
    fail(t.line, t.column, std::string("unexpected character '") + c + "'");
  }

 private:
  char advance() {
    char c = s_[at_++];
    if (c == '\n') {
      ++line_;
      column_ = 1;
    } else {
      ++column_;
    }
    return c;
  }

  void skipSpace() {
    while (at_ < s_.size()) {
      char c = s_[at_];
      if (std::isspace(static_cast<unsigned char>(c))) {
        advance();
      } else if (s_.substr(at_, 2) == "//") {
        while (at_ < s_.size() && s_[at_] != '\n') advance();
      } else if (s_.substr(at_, 2) == "/*") {
        int line = line_, column = column_;
        advance(), advance();
        while (at_ < s_.size() && s_.substr(at_, 2) != "*/") advance();
        if (at_ >= s_.size()) fail(line, column, "comment not closed");
        advance(), advance();
      } else {
        return;
      }
    }
  }

  Token& quoted(Token& t, char quote) {
    advance();
    t.kind = Tok::kString;
    while (true) {
      if (at_ >= s_.size() || s_[at_] == '\n') fail(t.line, t.column, "string not closed");
      char c = advance();
      if (c == quote) break;
      if (c != '\\') {
        t.text += c;
        continue;
      }
      if (at_ >= s_.size()) fail(t.line, t.column, "string not closed");
      int line = line_, column = column_ - 1;
      char e = advance();
      switch (e) {
        case '\\':
          t.text += '\\';
          break;
        case '"':
          t.text += '"';
          break;
        case '\'':
          t.text += '\'';
          break;
        case 'n':
          t.text += '\n';
          break;
        case 't':
          t.text += '\t';
          break;
        case 'r':
          t.text += '\r';
          break;
        case 'b':
          t.text += '\b';
          break;
        case 'f':
          t.text += '\f';
          break;
        case 'x':
        case 'X': {
          unsigned value = 0;
          int digits = 0;
          while (digits < 4 && at_ < s_.size() &&
                 std::isxdigit(static_cast<unsigned char>(s_[at_]))) {
            char h = advance();
            value = value * 16 + unsigned(std::isdigit(static_cast<unsigned char>(h))
                                              ? h - '0'
                                              : (std::tolower(h) - 'a' + 10));
            ++digits;
          }
          if (digits == 0) fail(line, column, "hexadecimal digits expected after \\x");
          t.text += narrow(std::u16string(1, char16_t(value)));
          break;
        }
        default:
          fail(line, column, std::string("unknown escape \\") + e);
      }
    }
    return t;
  }

  Token& number(Token& t) {
    std::string text;
    if (s_[at_] == '-' || s_[at_] == '+') text += advance();
    bool real = false;
    if (s_.substr(at_, 2) == "0x" || s_.substr(at_, 2) == "0X") {
      text += advance();
      text += advance();
      while (at_ < s_.size() && std::isxdigit(static_cast<unsigned char>(s_[at_])))
        text += advance();
    } else {
      while (at_ < s_.size()) {
        char c = s_[at_];
        if (std::isdigit(static_cast<unsigned char>(c))) {
          text += advance();
        } else if (c == '.' || c == 'e' || c == 'E') {
          real = true;
          text += advance();
          if ((c == 'e' || c == 'E') && at_ < s_.size() && (s_[at_] == '-' || s_[at_] == '+')) {
            text += advance();
          }
        } else {
          break;
        }
      }
    }
    if (at_ < s_.size() && (std::isalpha(static_cast<unsigned char>(s_[at_])) || s_[at_] == '_')) {
      fail(line_, column_, "malformed number");
    }
    t.kind = real ? Tok::kReal : Tok::kInteger;
    t.text = text;
    return t;
  }

  std::string_view s_;
  const std::string& file_;
  std::size_t at_ = 0;
  int line_ = 1;
  int column_ = 1;
};

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

// A value as written, with where it was written.
struct Value {
  Token at;
  bool isArray = false;
  bool isAlias = false;
  std::vector<Variant> items;  // one item for a scalar
};

std::optional<CLSID> parseClsid(const std::string& text) {
  // {xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}
  if (text.size() != 38 || text.front() != '{' || text.back() != '}') return std::nullopt;
  std::string hex;
  for (std::size_t i = 1; i + 1 < text.size(); ++i) {
    bool dash = i == 9 || i == 14 || i == 19 || i == 24;
    if (dash != (text[i] == '-')) return std::nullopt;
    if (!dash) {
      if (!std::isxdigit(static_cast<unsigned char>(text[i]))) return std::nullopt;
      hex += text[i];
    }
  }
  auto part = [&](std::size_t from, std::size_t n) {
    return std::stoull(hex.substr(from, n), nullptr, 16);
  };
  CLSID id{};
  id.Data1 = DWORD(part(0, 8));
  id.Data2 = WORD(part(8, 4));
  id.Data3 = WORD(part(12, 4));
  for (int i = 0; i < 8; ++i) id.Data4[i] = BYTE(part(16 + 2 * i, 2));
  return id;
}

class Parser {
 public:
  Parser(std::string_view text, const std::string& file, const std::u16string& server,
         Repository& repository)
      : lexer_(text, file), repository_(repository), server_(server) {
    token_ = lexer_.next();
  }

  void run() {
    while (token_.kind != Tok::kEnd) {
      if (isPunct("#")) {
        pragma();
        continue;
      }
      Qualifiers qualifiers = qualifierList();
      if (isWord("class")) {
        classDeclaration(std::move(qualifiers));
      } else if (isWord("instance")) {
        instanceDeclaration();
      } else {
        fail(token_, "'class' or 'instance' expected");
      }
    }
    std::unique_lock lock(repository_.mutex());
    for (auto& [key, data] : staged_) repository_.edit(data.name) = std::move(data);
  }

 private:
  [[noreturn]] void fail(const Token& at, const std::string& message) {
    lexer_.fail(at.line, at.column, message);
  }

  bool isPunct(const char* p) const { return token_.kind == Tok::kPunct && token_.text == p; }
  bool isWord(const char* w) const {
    return token_.kind == Tok::kIdent && sameWord(token_.text, w);
  }

  Token take() {
    Token t = token_;
    token_ = lexer_.next();
    return t;
  }
  Token expectPunct(const char* p) {
    if (!isPunct(p)) fail(token_, std::string("'") + p + "' expected");
    return take();
  }
  Token expectIdent(const char* what) {
    if (token_.kind != Tok::kIdent) fail(token_, std::string(what) + " expected");
    return take();
  }

  // Every namespace has the classes of the status objects that providers attach to a failure.
  void addStatusClasses(NamespaceData& ns) {
    auto notify = std::make_shared<ClassDef>();
    notify->name = u"__NotifyStatus";
    notify->nameSpace = namespace_;
    notify->server = server_;
    notify->properties.push_back({u"StatusCode", CIM_UINT32, {}, Variant::null(), notify->name});
    auto extended = std::make_shared<ClassDef>(*notify);
    extended->name = u"__ExtendedStatus";
    extended->derivation = {notify->name};
    for (const char16_t* name : {u"Description", u"Operation", u"ParameterInfo", u"ProviderName"}) {
      extended->properties.push_back({name, CIM_STRING, {}, Variant::null(), extended->name});
    }
    ns.classes[u"__notifystatus"] = std::move(notify);
    ns.classes[u"__extendedstatus"] = std::move(extended);
  }

  NamespaceData& current() {
    std::u16string key = toLower(namespace_);
    auto it = staged_.find(key);
    if (it == staged_.end()) {
      NamespaceData copy;
      if (std::optional<NamespaceData> existing = repository_.snapshot(namespace_)) {
        copy = std::move(*existing);
      } else {
        copy.name = namespace_;
        addStatusClasses(copy);
      }
      it = staged_.emplace(key, std::move(copy)).first;
    }
    return it->second;
  }

  void pragma() {
    take();
    Token name = expectIdent("pragma name");
    if (!sameWord(name.text, "pragma")) fail(name, "'pragma' expected after '#'");
    Token which = expectIdent("pragma name");
    expectPunct("(");
    if (token_.kind != Tok::kString) fail(token_, "string expected");
    Token value = take();
    expectPunct(")");
    if (!sameWord(which.text, "namespace")) return;  // other pragmas do not change the model
    std::u16string ns = widen(value.text);
    if (ns.rfind(u"\\\\", 0) == 0) {  // \\server\namespace
      std::size_t slash = ns.find(u'\\', 2);
      if (slash == std::u16string::npos) fail(value, "namespace expected after the server name");
      ns = ns.substr(slash + 1);
    } else if (toLower(ns.substr(0, 4)) != u"root") {
      ns = namespace_ + u"\\" + ns;  // relative to the namespace in force
    }
    while (!ns.empty() && ns.back() == u'\\') ns.pop_back();
    if (ns.empty()) fail(value, "empty namespace name");
    namespace_ = ns;
  }

  Qualifiers qualifierList() {
    Qualifiers out;
    if (!isPunct("[")) return out;
    take();
    while (true) {
      Token name = expectIdent("qualifier name");
      Qualifier q;
      q.name = widen(name.text);
      if (findQualifier(out, q.name)) fail(name, "qualifier " + name.text + " given twice");
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
        while (token_.kind == Tok::kIdent) take();
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
    v.at = token_;
    bool negative = false;
    switch (token_.kind) {
      case Tok::kString: {
        std::string text;
        while (token_.kind == Tok::kString) text += take().text;  // adjacent strings join
        v.items.push_back(Variant::text(widen(text)));
        return v;
      }
      case Tok::kChar: {
        std::u16string c = widen(take().text);
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
        v.items.push_back(std::move(x));
        return v;
      }
      case Tok::kAlias:
        v.isAlias = true;
        v.items.push_back(Variant::text(widen(take().text)));
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
        fail(token_, "value expected");
    }
  }

  Value arrayValue() {
    Value v;
    v.at = expectPunct("{");
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
    if (token_.kind == Tok::kInteger) take();
    expectPunct("]");
    return type | CIM_FLAG_ARRAY;
  }

  void classDeclaration(Qualifiers qualifiers) {
    take();
    Token name = expectIdent("class name");
    auto def = std::make_shared<ClassDef>();
    def->name = widen(name.text);
    def->nameSpace = namespace_;
    def->server = server_;
    def->qualifiers = std::move(qualifiers);
    NamespaceData& ns = current();
    if (isPunct(":")) {
      take();
      Token super = expectIdent("superclass name");
      auto base = ns.classes.find(toLower(widen(super.text)));
      if (base == ns.classes.end()) fail(super, "unknown superclass " + super.text);
      const ClassDef& b = *base->second;
      def->derivation.push_back(b.name);
      def->derivation.insert(def->derivation.end(), b.derivation.begin(), b.derivation.end());
      def->properties = b.properties;
      def->methods = b.methods;
    }
    std::size_t inherited = def->properties.size();
    expectPunct("{");
    while (!isPunct("}")) feature(*def, inherited);
    take();
    expectPunct(";");
    if (qualifierIsSet(def->qualifiers, u"dynamic") &&
        !findQualifier(def->qualifiers, u"provider")) {
      fail(name, "dynamic class " + name.text + " names no provider");
    }
    ns.classes[toLower(def->name)] = std::move(def);
  }

  void feature(ClassDef& def, std::size_t inherited) {
    Qualifiers qualifiers = qualifierList();
    Token typeAt;
    CIMTYPE type = dataType(true, typeAt);
    Token name = expectIdent("property or method name");
    std::u16string wname = widen(name.text);
    if (isPunct("(")) {
      method(def, std::move(qualifiers), type, name);
      return;
    }
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
    int existing = def.findProperty(wname);
    if (existing >= 0 && std::size_t(existing) >= inherited) {
      fail(name, "property " + name.text + " declared twice");
    }
    if (existing >= 0) {  // an override keeps the origin and the type
      PropertyDef& base = def.properties[existing];
      if (base.type != type) fail(name, "override of " + name.text + " changes its type");
      for (Qualifier& q : p.qualifiers) {
        Qualifier* old = nullptr;
        for (Qualifier& b : base.qualifiers) {
          if (equalsIgnoreCase(b.name, q.name)) old = &b;
        }
        if (old) {
          *old = q;
        } else {
          base.qualifiers.push_back(q);
        }
      }
      if (!p.defaultValue.isNull()) base.defaultValue = p.defaultValue;
      return;
    }
    def.properties.push_back(std::move(p));
  }

  void method(ClassDef& def, Qualifiers qualifiers, CIMTYPE returnType, const Token& name) {
    take();  // (
    auto in = std::make_shared<ClassDef>();
    auto out = std::make_shared<ClassDef>();
    in->name = out->name = u"__PARAMETERS";
    LONG id = 0;
    while (!isPunct(")")) {
      Qualifiers pq = qualifierList();
      Token typeAt;
      CIMTYPE type = dataType(false, typeAt);
      Token param = expectIdent("parameter name");
      type = arraySuffix(type);
      Variant defaultValue = Variant::null();
      if (isPunct("=")) {
        take();
        defaultValue = typedValue(initializer(), type);
      }
      bool isIn = qualifierIsSet(pq, u"in");
      bool isOut = qualifierIsSet(pq, u"out");
      if (!isIn && !isOut) isIn = true;
      std::u16string pname = widen(param.text);
      if (in->findProperty(pname) >= 0 || out->findProperty(pname) >= 0) {
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
    std::u16string wname = widen(name.text);
    for (MethodDef& m : def.methods) {
      if (!equalsIgnoreCase(m.name, wname)) continue;
      if (equalsIgnoreCase(m.originClass, def.name))
        fail(name, "method " + name.text + " declared twice");
    }
    std::erase_if(def.methods, [&](const MethodDef& m) { return equalsIgnoreCase(m.name, wname); });
    def.methods.push_back({wname, std::move(qualifiers), in->properties.empty() ? nullptr : in,
                           out->properties.empty() ? nullptr : out, def.name});
  }

  struct InstanceBody {
    Token className;
    std::map<std::string, std::pair<Token, Value>> values;  // by lower-case property name
    const Value* find(const char* name) const {
      auto it = values.find(name);
      return it == values.end() ? nullptr : &it->second.second;
    }
  };

  void instanceDeclaration() {
    take();
    if (!isWord("of")) fail(token_, "'of' expected");
    take();
    InstanceBody body;
    body.className = expectIdent("class name");
    std::optional<Token> alias;
    if (isWord("as")) {
      take();
      if (token_.kind != Tok::kAlias) fail(token_, "alias expected after 'as'");
      alias = take();
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
      if (body.values.count(key)) fail(property, "property " + property.text + " given twice");
      body.values.emplace(key, std::make_pair(property, std::move(v)));
    }
    take();
    expectPunct(";");
    registration(body, alias);
  }

  std::u16string text(const InstanceBody& body, const char* property, bool required) {
    const Value* v = body.find(property);
    if (!v) {
      if (required) fail(body.className, std::string("property ") + property + " is required");
      return {};
    }
    if (v->isArray || v->items.front().vt() != VT_BSTR) fail(v->at, "string expected");
    return v->items.front().asText();
  }

  bool flag(const InstanceBody& body, const char* property) {
    const Value* v = body.find(property);
    if (!v) return true;
    if (v->isArray || v->items.front().vt() != VT_BOOL) fail(v->at, "boolean expected");
    return v->items.front().get()->boolVal != VARIANT_FALSE;
  }

  ProviderRegistration& providerOf(const InstanceBody& body) {
    const Value* v = body.find("provider");
    if (!v) fail(body.className, "property Provider is required");
    std::u16string name;
    if (v->isAlias) {
      auto it = aliases_.find(narrow(v->items.front().asText()));
      if (it == aliases_.end())
        fail(v->at, "undefined alias $" + narrow(v->items.front().asText()));
      name = it->second;
    } else if (!v->isArray && v->items.front().vt() == VT_BSTR) {
      // __Win32Provider.Name="X"
      std::u16string path = v->items.front().asText();
      std::size_t open = path.find(u'"');
      std::size_t close = path.rfind(u'"');
      if (open == std::u16string::npos || close <= open) fail(v->at, "provider path expected");
      name = path.substr(open + 1, close - open - 1);
    } else {
      fail(v->at, "provider alias or path expected");
    }
    auto it = current().providers.find(toLower(name));
    if (it == current().providers.end()) fail(v->at, "unknown provider " + narrow(name));
    return it->second;
  }

  void registration(const InstanceBody& body, const std::optional<Token>& alias) {
    const std::string& cls = body.className.text;
    if (sameWord(cls, "__win32provider")) {
      ProviderRegistration r;
      r.name = text(body, "name", true);
      std::u16string clsid = text(body, "clsid", true);
      std::optional<CLSID> id = parseClsid(narrow(clsid));
      if (!id) fail(body.find("clsid")->at, "malformed CLSID " + narrow(clsid));
      r.clsid = *id;
      current().providers[toLower(r.name)] = r;
      if (alias) aliases_[alias->text] = r.name;
    } else if (sameWord(cls, "__instanceproviderregistration")) {
      ProviderRegistration& r = providerOf(body);
      r.instanceProvider = true;
      r.supportsGet = flag(body, "supportsget");
      r.supportsPut = flag(body, "supportsput");
      r.supportsEnumeration = flag(body, "supportsenumeration");
    } else if (sameWord(cls, "__methodproviderregistration")) {
      providerOf(body).methodProvider = true;
    } else if (sameWord(cls, "__eventproviderregistration")) {
      ProviderRegistration& r = providerOf(body);
      r.eventProvider = true;
      const Value* queries = body.find("eventquerylist");
      if (!queries) fail(body.className, "property EventQueryList is required");
      for (const Variant& q : queries->items) {
        std::optional<std::u16string> c = queriedClass(q.asText());
        if (!c) fail(queries->at, "event query of the form \"select * from Class\" expected");
        r.eventClasses.push_back(*c);
      }
    } else {
      fail(body.className,
           "instances of " + cls + " are not supported; only provider registrations");
    }
  }

 public:
  // The class of "select * from Class [where ...]".
  static std::optional<std::u16string> queriedClass(const std::u16string& query) {
    std::vector<std::u16string> words;
    std::u16string word;
    for (char16_t c : query + u" ") {
      if (c == u' ' || c == u'\t' || c == u'\n') {
        if (!word.empty()) words.push_back(word);
        word.clear();
      } else {
        word += c;
      }
    }
    if (words.size() < 4 || !equalsIgnoreCase(words[0], u"select") ||
        !equalsIgnoreCase(words[2], u"from")) {
      return std::nullopt;
    }
    return words[3];
  }

 private:
  Lexer lexer_;
  Repository& repository_;
  Token token_;
  std::u16string namespace_ = u"root\\default";
  std::u16string server_;
  std::map<std::u16string, NamespaceData> staged_;
  std::map<std::string, std::u16string> aliases_;  // alias -> provider name
};

}  // namespace

void readMof(std::string_view text, const std::string& fileName, const std::u16string& server,
             Repository& repository) {
  Parser(text, fileName, server, repository).run();
}

std::optional<std::u16string> eventQueryClass(const std::u16string& query) {
  return Parser::queriedClass(query);
}

}  // namespace velt::wmi::detail
