#include "object_view.h"

#include <charconv>
#include <cstdio>

namespace veltwmi {
namespace {

enum class Style { kPlain, kJson, kMof };

std::string number(double value, bool single) {
  char buffer[32];
  auto result = single ? std::to_chars(buffer, buffer + sizeof buffer, float(value))
                       : std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

std::string mofQuote(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    out += c;
  }
  return out + "\"";
}

// An array item as `put` reads it back: bare when it is plain, quoted when it is empty or holds
// a space (put would trim it at the ends) or what would end or quote it.
std::string arrayItemText(const std::string& text) {
  if (!text.empty() && text.find_first_of(",\"\\{} \t\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

bool isNumericText(CIMTYPE base) { return base == CIM_SINT64 || base == CIM_UINT64; }

std::string quoted(const std::string& text, Style style) {
  if (style == Style::kJson) return jsonQuote(text);
  if (style == Style::kMof) return mofQuote(text);
  return text;
}

// One element, from whatever VARIANT form the provider chose; the CIM type decides the sign
// of integers, characters and whether text is a number.
std::string scalarText(const VARIANT& v, CIMTYPE base, Style style) {
  switch (v.vt) {
    case VT_EMPTY:
    case VT_NULL:
      return style == Style::kPlain ? "" : style == Style::kJson ? "null" : "NULL";
    case VT_BSTR: {
      std::string text = utf8FromUtf16(v.bstrVal);
      return isNumericText(base) && !text.empty() ? text : quoted(text, style);
    }
    case VT_BOOL:
      if (style == Style::kMof) return v.boolVal ? "TRUE" : "FALSE";
      return v.boolVal ? "true" : "false";
    case VT_UI1:
      return std::to_string(v.bVal);
    case VT_I1:
      return std::to_string(int(v.cVal));
    case VT_I2:
      if (base == CIM_CHAR16) {
        std::u16string one(1, char16_t(uint16_t(v.iVal)));
        return quoted(utf8FromUtf16(one), style);
      }
      return base == CIM_UINT16 ? std::to_string(uint16_t(v.iVal)) : std::to_string(v.iVal);
    case VT_UI2:
      return std::to_string(v.uiVal);
    case VT_I4:
    case VT_INT:
      return base == CIM_UINT32 ? std::to_string(uint32_t(v.lVal)) : std::to_string(v.lVal);
    case VT_UI4:
    case VT_UINT:
      return std::to_string(v.ulVal);
    case VT_I8:
      return std::to_string(v.llVal);
    case VT_UI8:
      return std::to_string(v.ullVal);
    case VT_R4:
      return number(v.fltVal, true);
    case VT_R8:
      return number(v.dblVal, false);
    case VT_UNKNOWN: {
      IWbemClassObject* embedded = nullptr;
      if (v.punkVal && SUCCEEDED(v.punkVal->QueryInterface(IID_IWbemClassObject,
                                                           reinterpret_cast<void**>(&embedded)))) {
        ObjectView inner = viewOf(embedded);
        embedded->Release();
        if (style == Style::kJson) {
          std::string out = "{\"__CLASS\": " + jsonQuote(inner.className);
          for (const PropertyValue& p : inner.properties) {
            out += ", " + jsonQuote(p.name) + ": " + jsonText(p);
          }
          return out + "}";
        }
        return quoted("instance of " + inner.className, style);
      }
      return style == Style::kJson ? "null" : "";
    }
    default:
      return quoted("<vt " + std::to_string(v.vt) + ">", style);
  }
}

std::string render(const PropertyValue& property, Style style) {
  const VARIANT& v = *property.value.get();
  CIMTYPE base = property.type & ~CIM_FLAG_ARRAY;
  if (!(v.vt & VT_ARRAY)) return scalarText(v, base, style);
  VARTYPE element = VARTYPE(v.vt & ~VT_ARRAY);
  LONG low = 0, high = -1;
  SafeArrayGetLBound(v.parray, 1, &low);
  SafeArrayGetUBound(v.parray, 1, &high);
  std::string out = style == Style::kJson ? "[" : "{";
  for (LONG i = low; i <= high; ++i) {
    OwnedVariant item;
    VARIANT* slot = item.get();
    if (SUCCEEDED(SafeArrayGetElement(v.parray, &i, &slot->bVal))) slot->vt = element;
    if (i > low) out += ", ";
    std::string text = scalarText(*slot, base, style);
    out += style == Style::kPlain ? arrayItemText(text) : text;
  }
  return out + (style == Style::kJson ? "]" : "}");
}

}  // namespace

ObjectView viewOf(IWbemClassObject* object) {
  ObjectView view;
  OwnedVariant cls, relPath;
  object->Get(OLESTR("__CLASS"), 0, cls.get(), nullptr, nullptr);
  object->Get(OLESTR("__RELPATH"), 0, relPath.get(), nullptr, nullptr);
  if (cls.get()->vt == VT_BSTR) view.className = utf8FromUtf16(cls.get()->bstrVal);
  if (relPath.get()->vt == VT_BSTR) view.relPath = utf8FromUtf16(relPath.get()->bstrVal);
  object->BeginEnumeration(WBEM_FLAG_NONSYSTEM_ONLY);
  for (;;) {
    UniqueBstr name;
    PropertyValue property;
    if (object->Next(0, name.put(), property.value.get(), &property.type, nullptr) !=
        WBEM_S_NO_ERROR) {
      break;
    }
    property.name = utf8FromUtf16(name.get());
    view.properties.push_back(std::move(property));
  }
  object->EndEnumeration();
  return view;
}

std::string plainText(const PropertyValue& property) { return render(property, Style::kPlain); }
std::string jsonText(const PropertyValue& property) { return render(property, Style::kJson); }
std::string mofText(const PropertyValue& property) { return render(property, Style::kMof); }

std::string jsonQuote(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x", c);
          out += escape;
        } else {
          out += char(c);
        }
    }
  }
  return out + "\"";
}

}  // namespace veltwmi
