#include "objectpath/path_names.h"

namespace {

// The classic locale's classes, spelled out: bytes of 128 or more are neither.
bool isAsciiLetter(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool isAsciiDigit(unsigned char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool isValidName(std::string_view text) {
  if (text.empty()) return true;
  if (!isAsciiLetter(static_cast<unsigned char>(text.front()))) return false;
  for (char c : text.substr(1)) {
    const auto byte = static_cast<unsigned char>(c);
    if (!isAsciiLetter(byte) && !isAsciiDigit(byte) && byte != '_') return false;
  }
  return true;
}

bool isValidNamespace(std::string_view text) {
  for (;;) {
    const size_t end = text.find('\\');
    if (!isValidName(text.substr(0, end))) return false;
    if (end == std::string_view::npos) return true;
    text.remove_prefix(end + 1);
  }
}

std::string unescapePath(std::string_view text) {
  const bool fourBackslashes = text.starts_with("\\\\\\\\");
  // npos, for a character that is absent, lies beyond every position.
  const size_t equals = text.find('=');
  const size_t backslash = text.find('\\');
  const size_t quote = text.find('"');
  if (!fourBackslashes && !(equals < backslash && backslash < quote)) return std::string(text);

  // One pass instead of repeated erasing keeps hostile input linear.
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
    } else if (i + 1 < text.size()) {
      out += text[++i];  // the character after a removed backslash is kept, whatever it is
    }
  }
  return out;
}

int compareFolded(std::string_view a, std::string_view b) {
  const size_t common = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < common; ++i) {
    const auto x = static_cast<unsigned char>(foldCase(a[i]));
    const auto y = static_cast<unsigned char>(foldCase(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}
