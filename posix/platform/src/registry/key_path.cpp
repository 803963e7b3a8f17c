#include "key_path.h"

#include <locale.h>
#include <wctype.h>

#include "../kernel32/utf8_code_point.h"

namespace velt::registry {
namespace {

using velt::platform::appendUtf8;
using velt::platform::decodeUtf8;

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
    size_t length = decodeUtf8(name, at, code);
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
    size_t length = decodeUtf8(name, at, code);
    if (length == 0) {
      folded += name[at++];
      continue;
    }
    appendUtf8(folded, upper(code));
    at += length;
  }
  return folded;
}

}  // namespace velt::registry
