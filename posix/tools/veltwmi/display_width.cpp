#include "display_width.h"

#include <utf8proc.h>

namespace veltwmi {

std::size_t displayWidth(std::string_view utf8) {
  std::size_t width = 0;
  const auto* at = reinterpret_cast<const utf8proc_uint8_t*>(utf8.data());
  utf8proc_ssize_t left = utf8proc_ssize_t(utf8.size());
  while (left > 0) {
    utf8proc_int32_t codepoint = 0;
    utf8proc_ssize_t length = utf8proc_iterate(at, left, &codepoint);
    if (length <= 0) {
      ++width;
      length = 1;
    } else {
      width += std::size_t(utf8proc_charwidth(codepoint));
    }
    at += length;
    left -= length;
  }
  return width;
}

}  // namespace veltwmi
