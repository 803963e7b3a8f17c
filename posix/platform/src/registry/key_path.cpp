#include "key_path.h"

#include <locale.h>
#include <wctype.h>

namespace velt::registry {
namespace {

// Decodes one UTF-8 sequence at `at`; answers its length, or 0 for a byte that starts none
// (stray continuation, overlong form, surrogate, beyond U+10FFFF, cut short).
size_t decode(std::string_view text, size_t at, char32_t& code) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  unsigned char lead = byte(at);
  if (lead < 0x80) {
    code = lead;
    return 1;
  }
  size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
  if (length == 0 || lead > 0xF4 || at + length > text.size()) return 0;
  code = lead & (0x7F >> length);
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(at + i) & 0x3F);
  }
  static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < kSmallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

void encode(char32_t code, std::string& out) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// The case mappings come from the C.UTF-8 locale, which holds Unicode's and does not depend
// on the user's language settings: the folded form is stored in the file's index, so it must
// not change with them.
locale_t caseLocale() {
  static locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  return locale;
}

char32_t upper(char32_t code) {
  if (code < 0x80) return code >= 'a' && code <= 'z' ? code - ('a' - 'A') : code;
  locale_t locale = caseLocale();
  return locale == static_cast<locale_t>(0) ? code
                                            : static_cast<char32_t>(towupper_l(code, locale));
}

}  // namespace

LSTATUS splitKeyPath(const char* path, std::vector<std::string>& names) {
  names.clear();
  if (path == nullptr) return ERROR_SUCCESS;
  std::string_view rest(path);
  if (!rest.empty() && rest.back() == '\\') rest.remove_suffix(1);
  if (rest.empty()) return ERROR_SUCCESS;
  for (;;) {
    size_t slash = rest.find('\\');
    std::string_view name = rest.substr(0, slash);
    if (name.empty() || nameLength(name) > kMaxKeyNameLength) return ERROR_INVALID_PARAMETER;
    names.emplace_back(name);
    if (slash == std::string_view::npos) return ERROR_SUCCESS;
    rest.remove_prefix(slash + 1);
  }
}

size_t nameLength(std::string_view name) {
  size_t units = 0;
  for (size_t at = 0; at < name.size();) {
    char32_t code = 0;
    size_t length = decode(name, at, code);
    units += code >= 0x10000 && length != 0 ? 2 : 1;
    at += length == 0 ? 1 : length;
  }
  return units;
}

std::string foldName(std::string_view name) {
  std::string folded;
  folded.reserve(name.size());
  for (size_t at = 0; at < name.size();) {
    char32_t code = 0;
    size_t length = decode(name, at, code);
    if (length == 0) {
      folded += name[at++];
      continue;
    }
    encode(upper(code), folded);
    at += length;
  }
  return folded;
}

}  // namespace velt::registry
