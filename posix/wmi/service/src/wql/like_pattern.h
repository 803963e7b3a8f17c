// LIKE patterns: % for any run of characters, _ for one, [abc], [a-z] and [^a] for one of (or
// none of) a set; case-insensitive as WMI compares strings.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velt::wql {

class LikePattern {
 public:
  // The pattern, or the offset (from 0) in `text` of a bracket that is never closed.
  static std::optional<LikePattern> compile(std::u16string_view text, std::size_t* faultAt);

  bool matches(std::u16string_view value) const;

 private:
  struct Element {
    enum class Kind { kAnyRun, kOne, kChar, kSet } kind = Kind::kChar;
    char16_t c = 0;                                     // kChar, lower case
    std::vector<std::pair<char16_t, char16_t>> ranges;  // kSet, lower case
    bool negated = false;                               // kSet
  };
  bool matchesOne(const Element& e, char16_t c) const;

  std::vector<Element> m_elements;
};

// ASCII case folding, as the object model folds names.
inline char16_t foldCase(char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c; }

}  // namespace velt::wql
