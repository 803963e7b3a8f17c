#include "value_text.h"

#include <owners/utf_text.h>

#include <strings.h>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace veltreg {
namespace {

struct TypeName {
  DWORD type;
  const char* name;
};
constexpr TypeName kTypeNames[] = {{REG_NONE, "REG_NONE"},           {REG_SZ, "REG_SZ"},
                                   {REG_EXPAND_SZ, "REG_EXPAND_SZ"}, {REG_BINARY, "REG_BINARY"},
                                   {REG_DWORD, "REG_DWORD"},         {REG_MULTI_SZ, "REG_MULTI_SZ"},
                                   {REG_QWORD, "REG_QWORD"}};

std::string hexBytes(const std::string& data, const char* separator, const char* format) {
  std::string text;
  char byte[4];
  for (size_t i = 0; i < data.size(); ++i) {
    if (i > 0) text += separator;
    std::snprintf(byte, sizeof byte, format, static_cast<unsigned char>(data[i]));
    text += byte;
  }
  return text;
}

uint64_t littleEndian(const std::string& data) {
  uint64_t number = 0;
  for (size_t i = data.size(); i-- > 0;)
    number = (number << 8) | static_cast<unsigned char>(data[i]);
  return number;
}

std::string littleEndianBytes(uint64_t number, size_t size) {
  std::string bytes;
  for (size_t i = 0; i < size; ++i) bytes += static_cast<char>((number >> (8 * i)) & 0xff);
  return bytes;
}

// Decimal, or hexadecimal after 0x, no larger than `limit`.
std::optional<uint64_t> parseNumber(const std::string& text, uint64_t limit) {
  if (text.empty()) return 0;
  if (text[0] == '-' || text[0] == '+' || text[0] == ' ') return std::nullopt;
  // A leading zero does not make octal: "010" is ten, as the help promises.
  bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const char* digits = text.c_str() + (hex ? 2 : 0);
  if (digits[0] == '-' || digits[0] == '+' || digits[0] == ' ') return std::nullopt;
  errno = 0;
  char* end = nullptr;
  uint64_t number = std::strtoull(digits, &end, hex ? 16 : 10);
  if (errno != 0 || *end != '\0' || number > limit) return std::nullopt;
  return number;
}

std::optional<std::string> parseHex(const std::string& text) {
  if (text.size() % 2 != 0) return std::nullopt;
  std::string bytes;
  for (size_t i = 0; i < text.size(); i += 2) {
    char pair[3] = {text[i], text[i + 1], '\0'};
    char* end = nullptr;
    long byte = std::strtol(pair, &end, 16);
    if (*end != '\0' || pair[0] == '-' || pair[0] == '+' || pair[0] == ' ') return std::nullopt;
    bytes += static_cast<char>(byte);
  }
  return bytes;
}

std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

}  // namespace

std::string typeName(DWORD type) {
  for (const TypeName& entry : kTypeNames) {
    if (entry.type == type) return entry.name;
  }
  char text[16];
  std::snprintf(text, sizeof text, "0x%" PRIx32, type);
  return text;
}

std::optional<DWORD> typeFromName(const std::string& name) {
  for (const TypeName& entry : kTypeNames) {
    if (strcasecmp(name.c_str(), entry.name) == 0) return entry.type;
  }
  return std::nullopt;
}

std::string displayData(const Value& value) {
  switch (value.type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
      return std::string(value.data.c_str());
    case REG_MULTI_SZ: {
      std::string text;
      for (size_t start = 0; start < value.data.size();) {
        std::string item(value.data.c_str() + start);
        if (item.empty()) break;
        if (!text.empty()) text += "\\0";
        text += item;
        start += item.size() + 1;
      }
      return text;
    }
    case REG_DWORD:
    case REG_QWORD:
      if (value.data.size() == (value.type == REG_DWORD ? 4u : 8u)) {
        char text[24];
        std::snprintf(text, sizeof text, "0x%" PRIx64, littleEndian(value.data));
        return text;
      }
      [[fallthrough]];
    default:
      return hexBytes(value.data, "", "%02X");
  }
}

std::optional<std::string> dataFromText(DWORD type, const std::string& text,
                                        const std::string& separator) {
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
      return text + '\0';
    case REG_MULTI_SZ: {
      std::string data;
      if (separator.empty()) return std::nullopt;
      for (size_t start = 0; !text.empty();) {
        size_t end = text.find(separator, start);
        std::string item = text.substr(start, end - start);
        if (item.empty()) return std::nullopt;  // an empty item would end the list early
        data += item + '\0';
        if (end == std::string::npos) break;
        start = end + separator.size();
      }
      return data + '\0';
    }
    case REG_DWORD:
      if (auto number = parseNumber(text, 0xffffffffu)) return littleEndianBytes(*number, 4);
      return std::nullopt;
    case REG_QWORD:
      if (auto number = parseNumber(text, UINT64_MAX)) return littleEndianBytes(*number, 8);
      return std::nullopt;
    default:
      return parseHex(text);
  }
}

std::string utf16le(const std::string& text) {
  // Bytes that are not UTF-8 become U+FFFD: the format can only carry text.
  std::string out;
  for (char16_t unit : velt::utf16FromUtf8(text)) {
    out += static_cast<char>(unit & 0xff);
    out += static_cast<char>(unit >> 8);
  }
  return out;
}

std::string exportLine(const Value& value) {
  std::string line = value.name.empty() ? "@=" : quoted(value.name) + "=";
  bool plainText = value.type == REG_SZ && !value.data.empty() && value.data.back() == '\0' &&
                   std::strlen(value.data.c_str()) + 1 == value.data.size() &&
                   value.data.find_first_of("\r\n") == std::string::npos;
  if (plainText) return line + quoted(value.data.substr(0, value.data.size() - 1));
  if (value.type == REG_DWORD && value.data.size() == 4) {
    char text[16];
    std::snprintf(text, sizeof text, "dword:%08" PRIx64, littleEndian(value.data));
    return line + text;
  }
  if (value.type == REG_BINARY) return line + "hex:" + hexBytes(value.data, ",", "%02x");
  // Readers take the bytes of text types as the UTF-16 they store. A REG_SZ with a line break
  // or without its single terminating zero goes this way too: a quoted string cannot hold it.
  bool text = value.type == REG_SZ || value.type == REG_EXPAND_SZ || value.type == REG_MULTI_SZ;
  char prefix[24];
  std::snprintf(prefix, sizeof prefix, "hex(%" PRIx32 "):", value.type);
  return line + prefix + hexBytes(text ? utf16le(value.data) : value.data, ",", "%02x");
}

}  // namespace veltreg
