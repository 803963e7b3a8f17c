// Recursive descent over a token list. AND and OR collect their operands in one node, so a long
// chain of them costs no depth; only parentheses and NOT nest, and they are bounded.
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include <owners/utf_text.h>

#include "wql/query.h"

namespace velt::wql {
namespace {

struct Token {
  enum class Kind { kWord, kString, kNumber, kSymbol, kEnd } kind = Token::Kind::kEnd;
  std::u16string text;  // a word, a string's value, a number or a symbol as written
  std::size_t position = 0;
};

bool isWordStart(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_' || c >= 0x80;
}
bool isDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool isWordPart(char16_t c) { return isWordStart(c) || isDigit(c); }

bool sameWord(const std::u16string& word, std::u16string_view keyword) {
  if (word.size() != keyword.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i) {
    if (foldCase(word[i]) != foldCase(keyword[i])) return false;
  }
  return true;
}

std::string narrow(std::u16string_view text) {
  constexpr std::size_t kShown = 40;
  std::string out = utf8FromUtf16(std::u16string(text.substr(0, kShown)));
  if (text.size() > kShown) out += "...";
  return out;
}

struct Failed {
  ParseError error;
};

[[noreturn]] void fail(std::size_t position, std::string message) {
  throw Failed{ParseError{position, std::move(message)}};
}

std::vector<Token> tokenize(std::u16string_view text) {
  std::vector<Token> tokens;
  std::size_t i = 0;
  while (i < text.size()) {
    char16_t c = text[i];
    if (c == u' ' || c == u'\t' || c == u'\r' || c == u'\n') {
      ++i;
      continue;
    }
    Token t;
    t.position = i + 1;
    if (isWordStart(c)) {
      t.kind = Token::Kind::kWord;
      std::size_t start = i;
      while (i < text.size() && isWordPart(text[i])) ++i;
      t.text = text.substr(start, i - start);
    } else if (isDigit(c) || (c == u'.' && i + 1 < text.size() && isDigit(text[i + 1]))) {
      t.kind = Token::Kind::kNumber;
      std::size_t start = i;
      while (i < text.size() && isDigit(text[i])) ++i;
      if (i < text.size() && text[i] == u'.') {
        ++i;
        while (i < text.size() && isDigit(text[i])) ++i;
      }
      if (i < text.size() && (text[i] == u'e' || text[i] == u'E')) {
        std::size_t mark = i++;
        if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) ++i;
        if (i < text.size() && isDigit(text[i])) {
          while (i < text.size() && isDigit(text[i])) ++i;
        } else {
          i = mark;
        }
      }
      if (i < text.size() && isWordStart(text[i])) fail(i + 1, "a number cannot run into a name");
      t.text = text.substr(start, i - start);
    } else if (c == u'\'' || c == u'"') {
      t.kind = Token::Kind::kString;
      ++i;
      for (;;) {
        if (i >= text.size()) fail(t.position, "the string is never closed");
        char16_t d = text[i++];
        if (d == c) break;
        if (d == u'\\' && i < text.size()) d = text[i++];
        t.text += d;
      }
    } else {
      t.kind = Token::Kind::kSymbol;
      std::u16string_view two = text.substr(i, 2);
      if (two == u"<>" || two == u"!=" || two == u"<=" || two == u">=") {
        t.text = two;
        i += 2;
      } else if (std::u16string_view(u"=<>(),*.+-").find(c) != std::u16string_view::npos) {
        t.text = std::u16string(1, c);
        ++i;
      } else {
        fail(t.position, "unexpected character '" + narrow(text.substr(i, 1)) + "'");
      }
    }
    tokens.push_back(std::move(t));
  }
  Token end;
  end.position = text.size() + 1;
  tokens.push_back(end);
  return tokens;
}

}  // namespace

std::optional<Number> readNumber(std::u16string_view text, bool negative) {
  std::string ascii;
  for (char16_t c : text) {
    if (c > 0x7F) return std::nullopt;
    ascii += char(c);
  }
  // strtod alone would also take "inf", "nan" and hexadecimal.
  if (ascii.empty() || !(std::isdigit(static_cast<unsigned char>(ascii[0])) || ascii[0] == '.') ||
      ascii.find_first_not_of("0123456789.eE+-") != std::string::npos) {
    return std::nullopt;
  }
  Number n;
  n.negative = negative;
  if (ascii.find_first_not_of("0123456789") == std::string::npos) {
    auto [end, ec] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), n.magnitude);
    n.integral = ec == std::errc() && end == ascii.data() + ascii.size();
  } else {
    n.integral = false;
  }
  char* end = nullptr;
  n.real = std::strtod(ascii.c_str(), &end);
  if (end != ascii.c_str() + ascii.size()) return std::nullopt;
  if (negative) n.real = -n.real;
  if (n.integral && n.magnitude == 0) n.negative = false;
  return n;
}

namespace {

class Parser {
 public:
  Parser(std::vector<Token> tokens, QueryKind kind) : m_tokens(std::move(tokens)), m_kind(kind) {}

  Query query() {
    Query q;
    expectWord(u"SELECT");
    if (symbol(u"*")) {
      q.selectAll = true;
    } else {
      if (m_kind == QueryKind::kEvent) fail(peek().position, "an event query selects *");
      do {
        q.select.push_back(property());
      } while (symbol(u","));
    }
    expectWord(u"FROM");
    const Token& cls = peek();
    if (cls.kind != Token::Kind::kWord || isKeyword(cls.text))
      fail(cls.position, "expected a class name");
    q.className = cls.text;
    q.classPosition = cls.position;
    ++m_at;
    if (m_kind == QueryKind::kEvent && word(u"WITHIN")) {
      const Token& n = peek();
      std::optional<Number> interval;
      if (n.kind == Token::Kind::kNumber) interval = readNumber(n.text, false);
      if (!interval || !std::isfinite(interval->real) || interval->real <= 0) {
        fail(n.position, "WITHIN takes a positive number of seconds");
      }
      ++m_at;
      q.within = interval->real;
    }
    if (word(u"WHERE")) q.where = disjunction();
    const Token& rest = peek();
    if (rest.kind != Token::Kind::kEnd) fail(rest.position, "unexpected " + describe(rest));
    return q;
  }

 private:
  static bool isKeyword(const std::u16string& w) {
    for (std::u16string_view k : {u"SELECT", u"FROM", u"WHERE", u"AND", u"OR", u"NOT", u"LIKE",
                                  u"IS", u"NULL", u"ISA", u"TRUE", u"FALSE", u"WITHIN"}) {
      if (sameWord(w, k)) return true;
    }
    return false;
  }
  static std::string describe(const Token& t) {
    switch (t.kind) {
      case Token::Kind::kEnd:
        return "end of query";
      case Token::Kind::kString:
        return "string '" + narrow(t.text) + "'";
      default:
        return "'" + narrow(t.text) + "'";
    }
  }

  const Token& peek() const { return m_tokens[m_at]; }
  bool word(std::u16string_view keyword) {
    if (peek().kind == Token::Kind::kWord && sameWord(peek().text, keyword)) {
      ++m_at;
      return true;
    }
    return false;
  }
  bool symbol(std::u16string_view s) {
    if (peek().kind == Token::Kind::kSymbol && peek().text == s) {
      ++m_at;
      return true;
    }
    return false;
  }
  void expectWord(std::u16string_view keyword) {
    if (!word(keyword)) {
      fail(peek().position, "expected " + narrow(keyword) + ", found " + describe(peek()));
    }
  }

  PropertyRef property() {
    PropertyRef ref;
    ref.position = peek().position;
    do {
      const Token& t = peek();
      if (t.kind != Token::Kind::kWord || isKeyword(t.text)) {
        fail(t.position, "expected a property name, found " + describe(t));
      }
      ref.path.push_back(t.text);
      ++m_at;
    } while (symbol(u"."));
    return ref;
  }

  // Guards a level of nesting for the lifetime of the frame that entered it.
  struct Level {
    explicit Level(Parser& p) : parser(p) {
      if (++parser.m_depth > kMaxNesting) {
        fail(parser.peek().position,
             "nested deeper than " + std::to_string(kMaxNesting) + " levels");
      }
    }
    ~Level() { --parser.m_depth; }
    Parser& parser;
  };

  Condition disjunction() {
    Condition first = conjunction();
    if (!(peek().kind == Token::Kind::kWord && sameWord(peek().text, u"OR"))) return first;
    Condition any;
    any.kind = Condition::Kind::kOr;
    any.children.push_back(std::move(first));
    while (word(u"OR")) any.children.push_back(conjunction());
    return any;
  }

  Condition conjunction() {
    Condition first = negation();
    if (!(peek().kind == Token::Kind::kWord && sameWord(peek().text, u"AND"))) return first;
    Condition all;
    all.kind = Condition::Kind::kAnd;
    all.children.push_back(std::move(first));
    while (word(u"AND")) all.children.push_back(negation());
    return all;
  }

  Condition negation() {
    if (word(u"NOT")) {
      Level level(*this);
      Condition inverted;
      inverted.kind = Condition::Kind::kNot;
      inverted.children.push_back(negation());
      return inverted;
    }
    if (symbol(u"(")) {
      Level level(*this);
      Condition inner = disjunction();
      if (!symbol(u")")) fail(peek().position, "expected ')', found " + describe(peek()));
      return inner;
    }
    return predicate();
  }

  bool atLiteral() const {
    const Token& t = peek();
    if (t.kind == Token::Kind::kString || t.kind == Token::Kind::kNumber) return true;
    if (t.kind == Token::Kind::kSymbol) return t.text == u"+" || t.text == u"-";
    return t.kind == Token::Kind::kWord &&
           (sameWord(t.text, u"TRUE") || sameWord(t.text, u"FALSE"));
  }

  Literal literal() {
    const Token& t = peek();
    Literal value;
    if (t.kind == Token::Kind::kString) {
      value.kind = Literal::Kind::kString;
      value.text = t.text;
      for (char16_t c : t.text) value.lowered += foldCase(c);
      std::u16string_view digits = t.text;
      bool negative = !digits.empty() && digits[0] == u'-';
      if (!digits.empty() && (digits[0] == u'-' || digits[0] == u'+')) digits.remove_prefix(1);
      value.number = readNumber(digits, negative);
      ++m_at;
      return value;
    }
    if (t.kind == Token::Kind::kWord && (sameWord(t.text, u"TRUE") || sameWord(t.text, u"FALSE"))) {
      value.kind = Literal::Kind::kBoolean;
      value.boolean = sameWord(t.text, u"TRUE");
      ++m_at;
      return value;
    }
    bool negative = false;
    std::size_t signAt = peek().position;
    if (symbol(u"-")) {
      negative = true;
    } else {
      symbol(u"+");
    }
    const Token& n = peek();
    if (n.kind != Token::Kind::kNumber) {
      fail(n.position, "expected a constant, found " + describe(n));
    }
    value.kind = Literal::Kind::kNumber;
    value.number = readNumber(n.text, negative);
    if (!value.number) fail(signAt, "not a number");
    ++m_at;
    return value;
  }

  std::optional<CompareOp> comparison() {
    const Token& t = peek();
    if (t.kind != Token::Kind::kSymbol) return std::nullopt;
    std::optional<CompareOp> op;
    if (t.text == u"=") op = CompareOp::kEqual;
    if (t.text == u"<>" || t.text == u"!=") op = CompareOp::kNotEqual;
    if (t.text == u"<") op = CompareOp::kLess;
    if (t.text == u">") op = CompareOp::kGreater;
    if (t.text == u"<=") op = CompareOp::kLessEqual;
    if (t.text == u">=") op = CompareOp::kGreaterEqual;
    if (op) ++m_at;
    return op;
  }

  static CompareOp mirrored(CompareOp op) {
    switch (op) {
      case CompareOp::kLess:
        return CompareOp::kGreater;
      case CompareOp::kGreater:
        return CompareOp::kLess;
      case CompareOp::kLessEqual:
        return CompareOp::kGreaterEqual;
      case CompareOp::kGreaterEqual:
        return CompareOp::kLessEqual;
      default:
        return op;
    }
  }

  Condition predicate() {
    Condition c;
    c.kind = Condition::Kind::kCompare;
    if (atLiteral()) {  // 1000 < Used reads as Used > 1000
      c.value = literal();
      std::size_t opAt = peek().position;
      std::optional<CompareOp> op = comparison();
      if (!op) fail(opAt, "expected a comparison, found " + describe(peek()));
      c.op = mirrored(*op);
      c.property = property();
      return c;
    }
    c.property = property();
    std::size_t opAt = peek().position;
    if (std::optional<CompareOp> op = comparison()) {
      c.op = *op;
      if (peek().kind == Token::Kind::kWord && sameWord(peek().text, u"NULL")) {
        fail(peek().position, "compare with NULL through IS NULL or IS NOT NULL");
      }
      if (peek().kind == Token::Kind::kWord && !atLiteral()) {
        fail(peek().position, "a property compares with a constant, not with " + describe(peek()));
      }
      c.value = literal();
      return c;
    }
    if (word(u"IS")) {
      c.kind = word(u"NOT") ? Condition::Kind::kIsNotNull : Condition::Kind::kIsNull;
      expectWord(u"NULL");
      return c;
    }
    if (word(u"ISA")) {
      c.kind = Condition::Kind::kIsa;
      const Token& t = peek();
      if (t.kind != Token::Kind::kString && (t.kind != Token::Kind::kWord || isKeyword(t.text))) {
        fail(t.position, "ISA takes a class name, found " + describe(t));
      }
      c.className = t.text;
      ++m_at;
      return c;
    }
    bool negated = word(u"NOT");
    if (word(u"LIKE")) {
      c.kind = Condition::Kind::kLike;
      c.negated = negated;
      const Token& t = peek();
      if (t.kind != Token::Kind::kString)
        fail(t.position, "LIKE takes a string, found " + describe(t));
      std::size_t faultAt = 0;
      std::optional<LikePattern> pattern = LikePattern::compile(t.text, &faultAt);
      if (!pattern) fail(t.position, "the '[' of the pattern is never closed");
      c.pattern = std::move(*pattern);
      ++m_at;
      return c;
    }
    fail(negated ? peek().position : opAt,
         "expected a comparison, LIKE, IS or ISA, found " + describe(peek()));
  }

  std::vector<Token> m_tokens;
  QueryKind m_kind;
  std::size_t m_at = 0;
  int m_depth = 0;
};

void collect(const Condition& c, std::vector<const PropertyRef*>& out) {
  // Depth is bounded by the parser, so recursion here is too.
  if (c.kind == Condition::Kind::kAnd || c.kind == Condition::Kind::kOr ||
      c.kind == Condition::Kind::kNot) {
    for (const Condition& child : c.children) collect(child, out);
  } else {
    out.push_back(&c.property);
  }
}

}  // namespace

std::string ParseError::text() const {
  return "position " + std::to_string(position) + ": " + message;
}

ParseResult parse(std::u16string_view text, QueryKind kind) {
  ParseResult result;
  try {
    Parser parser(tokenize(text), kind);
    result.query = parser.query();
  } catch (const Failed& failed) {
    result.error = failed.error;
  }
  return result;
}

std::vector<const PropertyRef*> referencedProperties(const Query& query) {
  std::vector<const PropertyRef*> out;
  for (const PropertyRef& ref : query.select) out.push_back(&ref);
  if (query.where) collect(*query.where, out);
  return out;
}

}  // namespace velt::wql
