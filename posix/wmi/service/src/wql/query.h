// A WQL query as the service evaluates it: what is selected, from which class, and the
// condition an object must meet. Parsing never throws; a fault comes back with its column.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "wql/like_pattern.h"

namespace velt::wql {

// A numeric constant kept exactly when it is a whole number, so that 64-bit keys compare right.
struct Number {
  bool integral = true;
  bool negative = false;
  std::uint64_t magnitude = 0;  // when integral
  double real = 0;              // always, for comparisons with fractions
};

struct Literal {
  enum class Kind { kString, kNumber, kBoolean };
  Kind kind = Kind::kString;
  std::u16string text;           // kString: as written
  std::u16string lowered;        // kString: for case-insensitive comparison
  std::optional<Number> number;  // kNumber, or a kString that reads as one
  bool boolean = false;
};

enum class CompareOp { kEqual, kNotEqual, kLess, kGreater, kLessEqual, kGreaterEqual };

// A property, or a path into embedded objects (TargetInstance.Name), as written.
struct PropertyRef {
  std::vector<std::u16string> path;
  std::size_t position = 0;  // column of its first character, from 1
};

struct Condition {
  enum class Kind { kAnd, kOr, kNot, kCompare, kLike, kIsNull, kIsNotNull, kIsa };
  Kind kind = Kind::kAnd;
  std::vector<Condition> children;  // kAnd, kOr (two or more), kNot (one)
  PropertyRef property;
  CompareOp op = CompareOp::kEqual;
  Literal value;             // kCompare
  LikePattern pattern;       // kLike
  bool negated = false;      // kLike: NOT LIKE
  std::u16string className;  // kIsa
};

struct Query {
  bool selectAll = false;
  std::vector<PropertyRef> select;
  std::u16string className;
  std::size_t classPosition = 0;
  std::optional<double> within;  // event queries: the polling interval asked for, in seconds
  std::optional<Condition> where;
};

struct ParseError {
  std::size_t position = 0;  // column of the fault, from 1
  std::string message;
  // "position N: message", as the service reports it.
  std::string text() const;
};

struct ParseResult {
  std::optional<Query> query;
  ParseError error;  // when there is no query
};

enum class QueryKind { kData, kEvent };

// Nesting deeper than this (parentheses, NOT) is refused rather than risk the stack.
constexpr int kMaxNesting = 100;

ParseResult parse(std::u16string_view text, QueryKind kind);

// Unsigned decimal digits (with fraction and exponent) as a number, negated when `negative`;
// nothing when the text is not one.
std::optional<Number> readNumber(std::u16string_view digits, bool negative);

// Every property the query names (select list and condition), for checking them against the
// class.
std::vector<const PropertyRef*> referencedProperties(const Query& query);

}  // namespace velt::wql
