#include "wmi_model/object_path_text.h"

#include <algorithm>

namespace velt::wmi::detail {
namespace {

std::u16string quoted(const std::u16string& text) {
  std::u16string out = u"\"";
  for (char16_t c : text) {
    if (c == u'\\' || c == u'"') out.push_back(u'\\');
    out.push_back(c);
  }
  out.push_back(u'"');
  return out;
}

std::optional<std::u16string> keyText(const KeyValue& key) {
  const VARIANT* v = key.value.get();
  if (key.value.isNull()) return std::nullopt;
  switch (key.type & ~CIM_FLAG_ARRAY) {
    case CIM_STRING:
    case CIM_DATETIME:
    case CIM_REFERENCE:
      return quoted(key.value.asText());
    case CIM_SINT64:
    case CIM_UINT64:
      return key.value.asText();  // carried as decimal text
    case CIM_BOOLEAN:
      return std::u16string(v->boolVal ? u"TRUE" : u"FALSE");
    case CIM_SINT8:
    case CIM_SINT16:
      return utf16FromUtf8(std::to_string(v->iVal));
    case CIM_CHAR16:
      return utf16FromUtf8(std::to_string(uint16_t(v->iVal)));
    case CIM_UINT8:
      return utf16FromUtf8(std::to_string(v->bVal));
    case CIM_UINT16:
    case CIM_SINT32:
      return utf16FromUtf8(std::to_string(v->lVal));
    case CIM_UINT32:
      return utf16FromUtf8(std::to_string(uint32_t(v->lVal)));
    default:
      return std::nullopt;  // reals and objects cannot be keys
  }
}

}  // namespace

std::optional<std::u16string> formatRelativePath(const std::u16string& className,
                                                 std::vector<KeyValue> keys, bool singleton) {
  if (keys.empty()) {
    if (singleton) return className + u"=@";
    return std::nullopt;
  }
  std::sort(keys.begin(), keys.end(),
            [](const KeyValue& a, const KeyValue& b) { return toLower(a.name) < toLower(b.name); });
  std::u16string out = className + u".";
  for (std::size_t i = 0; i < keys.size(); ++i) {
    std::optional<std::u16string> value = keyText(keys[i]);
    if (!value) return std::nullopt;
    if (i) out += u",";
    out += keys[i].name + u"=" + *value;
  }
  return out;
}

std::u16string formatFullPath(const std::u16string& server, const std::u16string& nameSpace,
                              const std::u16string& relativePath) {
  return u"\\\\" + server + u"\\" + nameSpace + u":" + relativePath;
}

namespace {

// The server, namespace and class parts of a path; `rest` is left at the class name.
std::optional<ParsedPath> parseClassPart(const std::u16string& path, std::u16string& rest) {
  ParsedPath out;
  rest = path;
  if (rest.rfind(u"\\\\", 0) == 0 || rest.rfind(u"//", 0) == 0) {
    std::size_t slash = rest.find_first_of(u"\\/", 2);
    if (slash == std::u16string::npos) return std::nullopt;
    out.server = rest.substr(2, slash - 2);
    rest = rest.substr(slash + 1);
  }
  // A colon outside quotes ends the namespace part.
  bool inQuotes = false;
  for (std::size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] == u'"' && (i == 0 || rest[i - 1] != u'\\')) inQuotes = !inQuotes;
    if (!inQuotes && rest[i] == u'=') break;
    if (!inQuotes && rest[i] == u':') {
      out.nameSpace = rest.substr(0, i);
      rest = rest.substr(i + 1);
      break;
    }
  }
  out.className = rest.substr(0, rest.find_first_of(u".="));
  if (out.className.empty()) return std::nullopt;
  for (char16_t c : out.className) {
    bool ok = c == u'_' || (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') ||
              (c >= u'A' && c <= u'Z') || c >= 0x80;
    if (!ok) return std::nullopt;
  }
  return out;
}

}  // namespace

std::optional<ParsedPath> parseObjectPath(const std::u16string& path) {
  std::u16string rest;
  std::optional<ParsedPath> out = parseClassPart(path, rest);
  if (!out) return std::nullopt;
  std::size_t end = rest.find_first_of(u".=");
  if (end != std::u16string::npos) {
    if (end + 1 >= rest.size()) return std::nullopt;
    out->isInstance = true;
  }
  return out;
}

}  // namespace velt::wmi::detail

namespace velt::wmi {

std::optional<std::u16string> classOfObjectPath(const std::u16string& path) {
  std::u16string rest;
  std::optional<detail::ParsedPath> parsed = detail::parseClassPart(path, rest);
  if (!parsed) return std::nullopt;
  return parsed->className;
}

}  // namespace velt::wmi
