// The tokens of MOF text: names, strings, numbers, character literals, aliases and
// punctuation, each with the line and column where it starts.
#pragma once

#include <string>
#include <string_view>

#include "wmi_model/mof_error.h"

namespace velt::wmi::detail {

enum class Tok { kIdent, kString, kInteger, kReal, kChar, kAlias, kPunct, kEnd };

struct Token {
  Tok kind = Tok::kEnd;
  std::string text;  // identifier, punctuation, alias name, or the decoded string (UTF-8)
  int line = 0;
  int column = 0;
  std::size_t offset = 0;  // of its first character in the text
};

class Lexer {
 public:
  Lexer(std::string_view text, const std::string& file) : m_s(text), m_file(file) {}

  [[noreturn]] void fail(int line, int column, const std::string& message) const {
    throw MofError(m_file, line, column, message);
  }

  // The next token; a token of kind kEnd at the end of the text.
  Token next();

 private:
  char advance();
  void skipSpace();
  Token& quoted(Token& t, char quote);
  Token& number(Token& t);

  std::string_view m_s;
  const std::string& m_file;
  std::size_t m_at = 0;
  int m_line = 1;
  int m_column = 1;
};

}  // namespace velt::wmi::detail
