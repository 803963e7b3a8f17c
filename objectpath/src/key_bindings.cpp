#include <stdexcept>

#include "objectpath/path_names.h"
#include "objectpath/property_map.h"

namespace {

// The value runs to the first comma outside double quotes; the quotes stay in it.
size_t endOfValue(const std::string& text, size_t start) {
  bool quoted = false;
  for (size_t i = start; i < text.size(); ++i) {
    if (text[i] == '"') quoted = !quoted;
    if (text[i] == ',' && !quoted) return i;
  }
  return text.size();
}

void stripEnclosingQuotes(std::string& value) {
  if (value.empty() || value.front() != '"' || value.back() != '"') return;
  value.erase(0, 1);
  // A value of one double quote is empty by now: erasing at npos throws std::out_of_range,
  // which ends the parse.
  value.erase(value.size() - 1, 1);
}

}  // namespace

KeyBindings::KeyBindings(std::string_view keyList) {
  const std::string text = unescapePath(upToNul(keyList));
  size_t index = 0;
  while (index < text.size()) {
    size_t end = text.find('=', index);
    if (end == std::string::npos) end = text.size();
    const std::string name = text.substr(index, end - index);
    index = end < text.size() ? end + 1 : end;

    end = endOfValue(text, index);
    std::string value = text.substr(index, end - index);
    index = end;
    stripEnclosingQuotes(value);
    add(name, value);

    if (index < text.size() && text[index] == ',') ++index;
  }
}

KeyBindings::KeyBindings(const char* keyList)
    : KeyBindings(keyList == nullptr ? std::string_view() : std::string_view(keyList)) {}

KeyBindings::KeyBindings(const PropertyMap& map) {
  for (const auto& [name, value] : map) add(name, value);
}
