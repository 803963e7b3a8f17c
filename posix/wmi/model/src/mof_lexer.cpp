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
  t.line = m_line;
  t.column = m_column;
  t.offset = m_at;
  if (m_at >= m_s.size()) return t;
  char c = m_s[m_at];
  if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
    t.kind = Tok::kIdent;
    while (m_at < m_s.size() &&
           (std::isalnum(static_cast<unsigned char>(m_s[m_at])) || m_s[m_at] == '_')) {
      t.text += advance();
    }
    return t;
  }
  if (c == '$') {
    advance();
    t.kind = Tok::kAlias;
    while (m_at < m_s.size() &&
           (std::isalnum(static_cast<unsigned char>(m_s[m_at])) || m_s[m_at] == '_')) {
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
      ((c == '-' || c == '+') && m_at + 1 < m_s.size() &&
       std::isdigit(static_cast<unsigned char>(m_s[m_at + 1])))) {
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
  char c = m_s[m_at++];
  if (c == '\n') {
    ++m_line;
    m_column = 1;
  } else {
    ++m_column;
  }
  return c;
}

void Lexer::skipSpace() {
  while (m_at < m_s.size()) {
    char c = m_s[m_at];
    if (std::isspace(static_cast<unsigned char>(c))) {
      advance();
    } else if (m_s.substr(m_at, 2) == "//") {
      while (m_at < m_s.size() && m_s[m_at] != '\n') advance();
    } else if (m_s.substr(m_at, 2) == "/*") {
      int line = m_line, column = m_column;
      advance(), advance();
      while (m_at < m_s.size() && m_s.substr(m_at, 2) != "*/") advance();
      if (m_at >= m_s.size()) fail(line, column, "comment not closed");
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
    if (m_at >= m_s.size() || m_s[m_at] == '\n') fail(t.line, t.column, "string not closed");
    char c = advance();
    if (c == quote) break;
    if (c != '\\') {
      t.text += c;
      continue;
    }
    if (m_at >= m_s.size()) fail(t.line, t.column, "string not closed");
    int line = m_line, column = m_column - 1;
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
        while (digits < 4 && m_at < m_s.size() &&
               std::isxdigit(static_cast<unsigned char>(m_s[m_at]))) {
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
  if (m_s[m_at] == '-' || m_s[m_at] == '+') text += advance();
  bool real = false;
  if (m_s.substr(m_at, 2) == "0x" || m_s.substr(m_at, 2) == "0X") {
    text += advance();
    text += advance();
    while (m_at < m_s.size() && std::isxdigit(static_cast<unsigned char>(m_s[m_at])))
      text += advance();
    if (text.back() == 'x' || text.back() == 'X') fail(t.line, t.column, "malformed number");
  } else {
    while (m_at < m_s.size()) {
      char c = m_s[m_at];
      if (std::isdigit(static_cast<unsigned char>(c))) {
        text += advance();
      } else if (c == '.' || c == 'e' || c == 'E') {
        real = true;
        text += advance();
        if ((c == 'e' || c == 'E') && m_at < m_s.size() && (m_s[m_at] == '-' || m_s[m_at] == '+')) {
          text += advance();
        }
      } else {
        break;
      }
    }
  }
  if (m_at < m_s.size() &&
      (std::isalpha(static_cast<unsigned char>(m_s[m_at])) || m_s[m_at] == '_')) {
    fail(m_line, m_column, "malformed number");
  }
  if (real && !wellFormedReal(text)) fail(t.line, t.column, "malformed number " + text);
  t.kind = real ? Tok::kReal : Tok::kInteger;
  t.text = text;
  return t;
}

}  // namespace velt::wmi::detail
