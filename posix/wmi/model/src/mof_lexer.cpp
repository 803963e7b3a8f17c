#include "mof_lexer.h"

#include <cctype>

#include "wmi_model/variant_value.h"

namespace velt::wmi::detail {
namespace {

// [sign] digits [. digits] [e [sign] digits], with digits on at least one side of the point.
bool wellFormedReal(std::string_view text) {
  std::size_t at = 0;
  auto digits = [&] {
    std::size_t from = at;
    while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) ++at;
    return at - from;
  };
  if (at < text.size() && (text[at] == '-' || text[at] == '+')) ++at;
  std::size_t mantissa = digits();
  if (at < text.size() && text[at] == '.') {
    ++at;
    mantissa += digits();
  }
  if (mantissa == 0) return false;
  if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
    ++at;
    if (at < text.size() && (text[at] == '-' || text[at] == '+')) ++at;
    if (digits() == 0) return false;
  }
  return at == text.size();
}

}  // namespace

Token Lexer::next() {
  skipSpace();
  Token t;
  t.line = line_;
  t.column = column_;
  t.offset = at_;
  if (at_ >= s_.size()) return t;
  char c = s_[at_];
  if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
    t.kind = Tok::kIdent;
    while (at_ < s_.size() &&
           (std::isalnum(static_cast<unsigned char>(s_[at_])) || s_[at_] == '_')) {
      t.text += advance();
    }
    return t;
  }
  if (c == '$') {
    advance();
    t.kind = Tok::kAlias;
    while (at_ < s_.size() &&
           (std::isalnum(static_cast<unsigned char>(s_[at_])) || s_[at_] == '_')) {
      t.text += advance();
    }
    if (t.text.empty()) fail(t.line, t.column, "alias name expected after '$'");
    return t;
  }
  if (c == '"') return quoted(t, '"');
  if (c == '\'') {
    quoted(t, '\'');
    t.kind = Tok::kChar;
    if (t.text.empty()) fail(t.line, t.column, "empty character literal");
    if (utf16FromUtf8(t.text).size() != 1)
      fail(t.line, t.column, "a character literal holds one character");
    return t;
  }
  if (std::isdigit(static_cast<unsigned char>(c)) ||
      ((c == '-' || c == '+') && at_ + 1 < s_.size() &&
       std::isdigit(static_cast<unsigned char>(s_[at_ + 1])))) {
    return number(t);
  }
  if (std::string_view("{}[]();,=:#").find(c) != std::string_view::npos) {
    t.kind = Tok::kPunct;
    t.text = std::string(1, advance());
    return t;
  }
  fail(t.line, t.column, std::string("unexpected character '") + c + "'");
}

char Lexer::advance() {
  char c = s_[at_++];
  if (c == '\n') {
    ++line_;
    column_ = 1;
  } else {
    ++column_;
  }
  return c;
}

void Lexer::skipSpace() {
  while (at_ < s_.size()) {
    char c = s_[at_];
    if (std::isspace(static_cast<unsigned char>(c))) {
      advance();
    } else if (s_.substr(at_, 2) == "//") {
      while (at_ < s_.size() && s_[at_] != '\n') advance();
    } else if (s_.substr(at_, 2) == "/*") {
      int line = line_, column = column_;
      advance(), advance();
      while (at_ < s_.size() && s_.substr(at_, 2) != "*/") advance();
      if (at_ >= s_.size()) fail(line, column, "comment not closed");
      advance(), advance();
    } else {
      return;
    }
  }
}

Token& Lexer::quoted(Token& t, char quote) {
  advance();
  t.kind = Tok::kString;
  while (true) {
    if (at_ >= s_.size() || s_[at_] == '\n') fail(t.line, t.column, "string not closed");
    char c = advance();
    if (c == quote) break;
    if (c != '\\') {
      t.text += c;
      continue;
    }
    if (at_ >= s_.size()) fail(t.line, t.column, "string not closed");
    int line = line_, column = column_ - 1;
    char e = advance();
    switch (e) {
      case '\\':
        t.text += '\\';
        break;
      case '"':
        t.text += '"';
        break;
      case '\'':
        t.text += '\'';
        break;
      case 'n':
        t.text += '\n';
        break;
      case 't':
        t.text += '\t';
        break;
      case 'r':
        t.text += '\r';
        break;
      case 'b':
        t.text += '\b';
        break;
      case 'f':
        t.text += '\f';
        break;
      case 'x':
      case 'X': {
        unsigned value = 0;
        int digits = 0;
        while (digits < 4 && at_ < s_.size() &&
               std::isxdigit(static_cast<unsigned char>(s_[at_]))) {
          char h = advance();
          value = value * 16 + unsigned(std::isdigit(static_cast<unsigned char>(h))
                                            ? h - '0'
                                            : (std::tolower(h) - 'a' + 10));
          ++digits;
        }
        if (digits == 0) fail(line, column, "hexadecimal digits expected after \\x");
        t.text += utf8FromUtf16(std::u16string(1, char16_t(value)));
        break;
      }
      default:
        fail(line, column, std::string("unknown escape \\") + e);
    }
  }
  return t;
}

Token& Lexer::number(Token& t) {
  std::string text;
  if (s_[at_] == '-' || s_[at_] == '+') text += advance();
  bool real = false;
  if (s_.substr(at_, 2) == "0x" || s_.substr(at_, 2) == "0X") {
    text += advance();
    text += advance();
    while (at_ < s_.size() && std::isxdigit(static_cast<unsigned char>(s_[at_]))) text += advance();
    if (text.back() == 'x' || text.back() == 'X') fail(t.line, t.column, "malformed number");
  } else {
    while (at_ < s_.size()) {
      char c = s_[at_];
      if (std::isdigit(static_cast<unsigned char>(c))) {
        text += advance();
      } else if (c == '.' || c == 'e' || c == 'E') {
        real = true;
        text += advance();
        if ((c == 'e' || c == 'E') && at_ < s_.size() && (s_[at_] == '-' || s_[at_] == '+')) {
          text += advance();
        }
      } else {
        break;
      }
    }
  }
  if (at_ < s_.size() && (std::isalpha(static_cast<unsigned char>(s_[at_])) || s_[at_] == '_')) {
    fail(line_, column_, "malformed number");
  }
  if (real && !wellFormedReal(text)) fail(t.line, t.column, "malformed number " + text);
  t.kind = real ? Tok::kReal : Tok::kInteger;
  t.text = text;
  return t;
}

}  // namespace velt::wmi::detail
