#include "com_support.h"

#include <windows.h>

namespace veltwmi {

std::u16string widen(std::string_view utf8) {
  if (utf8.empty()) return {};
  int units = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
  std::u16string out(std::size_t(units), u'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), out.data(), units);
  return out;
}

std::string narrow(std::u16string_view text) {
  if (text.empty()) return {};
  int bytes =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(std::size_t(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(), bytes, nullptr,
                      nullptr);
  return out;
}

}  // namespace veltwmi
