#include "value_typing.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>

#include "com_support.h"
#include "status_text.h"

namespace veltwmi {
namespace {

std::string trim(const std::string& text) {
  std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  std::size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

Failure misfit(const std::string& what, const std::string& text, CIMTYPE type,
               const std::string& why = "") {
  return usageError(what + ": '" + text + "' is not a " + cimTypeName(type & ~CIM_FLAG_ARRAY) +
                    (why.empty() ? "" : " (" + why + ")"));
}

// Decimal, or hexadecimal after 0x, with an optional sign.
std::optional<long double> parseInteger(const std::string& text, bool& negative,
                                        std::uint64_t& magnitude) {
  std::string_view s(text);
  negative = false;
  if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
    negative = s[0] == '-';
    s.remove_prefix(1);
  }
  int base = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s.remove_prefix(2);
  }
  if (s.empty()) return std::nullopt;
  auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), magnitude, base);
  if (error != std::errc() || end != s.data() + s.size()) return std::nullopt;
  return negative ? -static_cast<long double>(magnitude) : static_cast<long double>(magnitude);
}

// Validates the range and answers the value's two's-complement bits.
std::uint64_t integerIn(const std::string& text, long double low, long double high,
                        const std::string& what, CIMTYPE type) {
  bool negative = false;
  std::uint64_t magnitude = 0;
  std::optional<long double> value = parseInteger(text, negative, magnitude);
  if (!value) throw misfit(what, text, type);
  if (*value < low || *value > high) throw misfit(what, text, type, "out of range");
  return negative ? std::uint64_t(0) - magnitude : magnitude;
}

bool parseBoolean(const std::string& text, bool& value) {
  std::string lower;
  for (char c : text) lower += char(std::tolower(static_cast<unsigned char>(c)));
  if (lower == "true" || lower == "1" || lower == "yes" || lower == "on") return value = true;
  if (lower == "false" || lower == "0" || lower == "no" || lower == "off") {
    value = false;
    return true;
  }
  return false;
}

// yyyymmddHHMMSS.mmmmmmsUUU, or the interval form ddddddddHHMMSS.mmmmmm:000.
bool isDatetime(const std::string& text) {
  if (text.size() != 25 || text[14] != '.') return false;
  for (std::size_t i = 0; i < 21; ++i) {
    if (i != 14 && !std::isdigit(static_cast<unsigned char>(text[i])) && text[i] != '*') {
      return false;
    }
  }
  return text[21] == '+' || text[21] == '-' || text[21] == ':';
}

void setText(VARIANT* out, const std::string& text) {
  std::u16string wide = utf16FromUtf8(text);
  out->vt = VT_BSTR;
  out->bstrVal = SysAllocStringLen(wide.data(), UINT(wide.size()));
}

// One scalar in its canonical VARIANT form.
void scalarValue(CIMTYPE type, const std::string& text, const std::string& what, VARIANT* out) {
  VariantInit(out);
  if (text.empty() && type != CIM_STRING) {
    out->vt = VT_NULL;
    return;
  }
  constexpr long double kI64Low = static_cast<long double>(std::numeric_limits<int64_t>::min());
  switch (type) {
    case CIM_SINT8:
      out->vt = VT_I2, out->iVal = SHORT(integerIn(text, -128, 127, what, type));
      return;
    case CIM_UINT8:
      out->vt = VT_UI1, out->bVal = BYTE(integerIn(text, 0, 255, what, type));
      return;
    case CIM_SINT16:
      out->vt = VT_I2, out->iVal = SHORT(integerIn(text, -32768, 32767, what, type));
      return;
    case CIM_UINT16:
      out->vt = VT_I4, out->lVal = LONG(integerIn(text, 0, 65535, what, type));
      return;
    case CIM_SINT32:
      out->vt = VT_I4, out->lVal = LONG(integerIn(text, -2147483648.0L, 2147483647, what, type));
      return;
    case CIM_UINT32:
      out->vt = VT_I4, out->lVal = LONG(uint32_t(integerIn(text, 0, 4294967295.0L, what, type)));
      return;
    case CIM_SINT64:
      setText(out, std::to_string(
                       int64_t(integerIn(text, kI64Low, 9223372036854775807.0L, what, type))));
      return;
    case CIM_UINT64:
      setText(out, std::to_string(integerIn(text, 0, 18446744073709551615.0L, what, type)));
      return;
    case CIM_REAL32:
    case CIM_REAL64: {
      double value = 0;
      auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
      if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
        throw misfit(what, text, type);
      }
      if (type == CIM_REAL32) {
        if (std::fabs(value) > std::numeric_limits<float>::max()) {
          throw misfit(what, text, type, "out of range");
        }
        out->vt = VT_R4, out->fltVal = float(value);
      } else {
        out->vt = VT_R8, out->dblVal = value;
      }
      return;
    }
    case CIM_BOOLEAN: {
      bool value = false;
      if (!parseBoolean(text, value)) throw misfit(what, text, type, "use true or false");
      out->vt = VT_BOOL, out->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
      return;
    }
    case CIM_CHAR16: {
      std::u16string wide = utf16FromUtf8(text);
      if (wide.size() != 1) throw misfit(what, text, type, "one character");
      out->vt = VT_I2, out->iVal = SHORT(wide[0]);
      return;
    }
    case CIM_DATETIME:
      if (!isDatetime(text)) throw misfit(what, text, type, "yyyymmddHHMMSS.mmmmmm+UUU");
      setText(out, text);
      return;
    case CIM_STRING:
    case CIM_REFERENCE:
      setText(out, text);
      return;
    default:
      throw usageError(what + ": a " + cimTypeName(type) + " cannot be written from text");
  }
}

VARTYPE elementVariantType(CIMTYPE type) {
  switch (type) {
    case CIM_SINT8:
    case CIM_SINT16:
    case CIM_CHAR16:
      return VT_I2;
    case CIM_UINT8:
      return VT_UI1;
    case CIM_UINT16:
    case CIM_SINT32:
    case CIM_UINT32:
      return VT_I4;
    case CIM_REAL32:
      return VT_R4;
    case CIM_REAL64:
      return VT_R8;
    case CIM_BOOLEAN:
      return VT_BOOL;
    default:
      return VT_BSTR;
  }
}

}  // namespace

std::vector<std::string> splitArrayItems(const std::string& text) {
  std::string body = trim(text);
  if (body.size() >= 2 && body.front() == '{' && body.back() == '}') {
    body = body.substr(1, body.size() - 2);
  }
  std::vector<std::string> items;
  if (trim(body).empty()) return items;
  std::string item;
  bool quoted = false;
  for (std::size_t i = 0; i <= body.size(); ++i) {
    if (i == body.size() || body[i] == ',') {
      items.push_back(quoted ? item : trim(item));
      item.clear();
      quoted = false;
    } else if (body[i] == '"' && trim(item).empty()) {
      quoted = true;
      item.clear();
      for (++i; i < body.size() && body[i] != '"'; ++i) {
        if (body[i] == '\\' && i + 1 < body.size()) ++i;
        item += body[i];
      }
      if (i >= body.size()) throw usageError("unterminated \" in array '" + text + "'");
      std::size_t next = body.find_first_not_of(" \t", i + 1);
      if (next != std::string::npos && body[next] != ',') {
        throw usageError("unexpected text after a quoted item in '" + text + "'");
      }
      i = (next == std::string::npos ? body.size() : next) - 1;
    } else {
      item += body[i];
    }
  }
  return items;
}

void typedValue(CIMTYPE type, const std::string& text, const std::string& what, VARIANT* out) {
  VariantClear(out);
  if (!(type & CIM_FLAG_ARRAY)) {
    scalarValue(type, text, what, out);
    return;
  }
  CIMTYPE element = type & ~CIM_FLAG_ARRAY;
  if (trim(text).empty()) {
    out->vt = VT_NULL;
    return;
  }
  std::vector<std::string> items = splitArrayItems(text);
  VARTYPE vt = elementVariantType(element);
  velt::UniqueSafeArray array(SafeArrayCreateVector(vt, 0, ULONG(items.size())));
  if (!array) throw Failure(kExitRequestFailed, "out of memory");
  for (std::size_t i = 0; i < items.size(); ++i) {
    OwnedVariant item;
    scalarValue(element, items[i], what + "[" + std::to_string(i) + "]", item.get());
    if (item.isNull()) {
      throw usageError(what + "[" + std::to_string(i) + "]: an array item cannot be empty");
    }
    LONG index = LONG(i);
    VARIANT* v = item.get();
    void* data = vt == VT_BSTR ? static_cast<void*>(v->bstrVal) : static_cast<void*>(&v->bVal);
    SafeArrayPutElement(array.get(), &index, data);
  }
  out->vt = VARTYPE(VT_ARRAY | vt);
  out->parray = array.release();
}

std::string cimTypeName(CIMTYPE type) {
  std::string suffix = (type & CIM_FLAG_ARRAY) ? "[]" : "";
  switch (type & ~CIM_FLAG_ARRAY) {
    case CIM_SINT8:
      return "sint8" + suffix;
    case CIM_UINT8:
      return "uint8" + suffix;
    case CIM_SINT16:
      return "sint16" + suffix;
    case CIM_UINT16:
      return "uint16" + suffix;
    case CIM_SINT32:
      return "sint32" + suffix;
    case CIM_UINT32:
      return "uint32" + suffix;
    case CIM_SINT64:
      return "sint64" + suffix;
    case CIM_UINT64:
      return "uint64" + suffix;
    case CIM_REAL32:
      return "real32" + suffix;
    case CIM_REAL64:
      return "real64" + suffix;
    case CIM_BOOLEAN:
      return "boolean" + suffix;
    case CIM_STRING:
      return "string" + suffix;
    case CIM_DATETIME:
      return "datetime" + suffix;
    case CIM_REFERENCE:
      return "ref" + suffix;
    case CIM_CHAR16:
      return "char16" + suffix;
    case CIM_OBJECT:
      return "object" + suffix;
    default:
      return "unknown" + suffix;
  }
}

}  // namespace veltwmi
