// Class identifiers as the registry and MOF registrations write them: 38 characters, braces
// included, "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
#pragma once

#include <windows.h>

#include <objbase.h>

#include <optional>
#include <string>
#include <string_view>

namespace velt {

inline constexpr std::size_t kClsidTextLength = 38;

inline std::string clsidText(REFCLSID classId) {
  OLECHAR wide[kClsidTextLength + 1];
  if (StringFromGUID2(classId, wide, static_cast<int>(kClsidTextLength + 1)) == 0) return {};
  // The text is plain ASCII.
  return std::string(wide, wide + kClsidTextLength);
}

// The class identifier the braced text names, or nothing when the text is not one. Only the
// braced form is read: a bare word is never looked up as a ProgID.
inline std::optional<CLSID> clsidFromText(std::string_view text) {
  if (text.size() != kClsidTextLength || text.front() != '{' || text.back() != '}') {
    return std::nullopt;
  }
  OLECHAR wide[kClsidTextLength + 1] = {};
  for (std::size_t i = 0; i < kClsidTextLength; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) return std::nullopt;
    wide[i] = static_cast<OLECHAR>(c);
  }
  CLSID parsed{};
  if (FAILED(CLSIDFromString(wide, &parsed))) return std::nullopt;
  return parsed;
}

}  // namespace velt
