// Registry values as text: type names, the query display, the data given with /d, and the
// lines of an exported file.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace veltreg {

struct Value {
  std::string name;  // empty for the default value
  DWORD type = REG_NONE;
  std::string data;  // the stored bytes
};

std::string typeName(DWORD type);
std::optional<DWORD> typeFromName(const std::string& name);

// The data column of a query line: text types up to their zero, REG_MULTI_SZ items joined by
// "\0", numbers as 0x hex, everything else as upper-case hex bytes.
std::string displayData(const Value& value);

// The bytes to store for /d text of the given type; nullopt when the text does not fit it.
// `separator` splits REG_MULTI_SZ items.
std::optional<std::string> dataFromText(DWORD type, const std::string& text,
                                        const std::string& separator);

// One line of an exported file (version 5.00 format), in UTF-8 and without its line end:
// @="..." or "name"=dword:..., hex:..., hex(2):... (text types as UTF-16 bytes).
std::string exportLine(const Value& value);

// UTF-8 text as UTF-16LE bytes; a byte that is not UTF-8 becomes U+FFFD.
std::string utf16le(const std::string& text);

}  // namespace veltreg
