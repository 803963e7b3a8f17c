#include "wql/like_pattern.h"

namespace velt::wql {

std::optional<LikePattern> LikePattern::compile(std::u16string_view text, std::size_t* faultAt) {
  LikePattern pattern;
  for (std::size_t i = 0; i < text.size(); ++i) {
    Element e;
    char16_t c = text[i];
    if (c == u'%') {
      // Runs of % match what one does; folding them keeps matching linear.
      if (!pattern.m_elements.empty() && pattern.m_elements.back().kind == Element::Kind::kAnyRun) {
        continue;
      }
      e.kind = Element::Kind::kAnyRun;
    } else if (c == u'_') {
      e.kind = Element::Kind::kOne;
    } else if (c == u'[') {
      std::size_t open = i++;
      e.kind = Element::Kind::kSet;
      if (i < text.size() && text[i] == u'^') {
        e.negated = true;
        ++i;
      }
      // A ] right after the opening stands for itself, so [ ]] can name it.
      bool first = true;
      for (; i < text.size() && (first || text[i] != u']'); ++i, first = false) {
        char16_t low = foldCase(text[i]), high = low;
        if (i + 2 < text.size() && text[i + 1] == u'-' && text[i + 2] != u']') {
          high = foldCase(text[i + 2]);
          i += 2;
        }
        if (high < low) std::swap(low, high);
        e.ranges.emplace_back(low, high);
      }
      if (i >= text.size()) {
        if (faultAt) *faultAt = open;
        return std::nullopt;
      }
    } else {
      e.c = foldCase(c);
    }
    pattern.m_elements.push_back(std::move(e));
  }
  return pattern;
}

bool LikePattern::matchesOne(const Element& e, char16_t c) const {
  switch (e.kind) {
    case Element::Kind::kOne:
      return true;
    case Element::Kind::kChar:
      return e.c == foldCase(c);
    case Element::Kind::kSet: {
      char16_t folded = foldCase(c);
      bool in = false;
      for (const auto& [low, high] : e.ranges) {
        if (folded >= low && folded <= high) {
          in = true;
          break;
        }
      }
      return in != e.negated;
    }
    case Element::Kind::kAnyRun:
      break;
  }
  return false;
}

// Greedy with one backtrack point, the last %: every other element takes exactly one
// character, so retrying from the latest % is enough and no input makes it exponential.
bool LikePattern::matches(std::u16string_view value) const {
  std::size_t p = 0, v = 0;
  std::optional<std::size_t> starP, starV;
  while (v < value.size()) {
    if (p < m_elements.size() && m_elements[p].kind == Element::Kind::kAnyRun) {
      starP = p++;
      starV = v;
    } else if (p < m_elements.size() && matchesOne(m_elements[p], value[v])) {
      ++p;
      ++v;
    } else if (starP) {
      p = *starP + 1;
      v = ++*starV;
    } else {
      return false;
    }
  }
  while (p < m_elements.size() && m_elements[p].kind == Element::Kind::kAnyRun) ++p;
  return p == m_elements.size();
}

}  // namespace velt::wql
