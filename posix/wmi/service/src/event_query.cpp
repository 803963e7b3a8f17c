#include "event_query.h"

#include <vector>

#include "wmi_model/variant_value.h"

namespace velt::wmi::detail {

std::optional<std::u16string> eventQueryClass(const std::u16string& query) {
  std::vector<std::u16string> words;
  std::u16string word;
  for (char16_t c : query + u" ") {
    if (c == u' ' || c == u'\t' || c == u'\n') {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  if (words.size() < 4 || !equalsIgnoreCase(words[0], u"select") ||
      !equalsIgnoreCase(words[2], u"from")) {
    return std::nullopt;
  }
  return words[3];
}

}  // namespace velt::wmi::detail
