// WbemObjectPath from a path text.
#include <string>

#include "objectpath/object_path.h"
#include "objectpath/path_names.h"

namespace {

size_t findFirstOf(const std::string& text, const char* stops, size_t from) {
  const size_t found = text.find_first_of(stops, from);
  return found == std::string::npos ? text.size() : found;
}

}  // namespace

WbemObjectPath::WbemObjectPath(std::string_view pathText) {
  const std::string text = unescapePath(upToNul(pathText));
  size_t index = 0;
  if (text.empty()) return;

  if (text.starts_with("\\\\")) {
    size_t end = findFirstOf(text, "\\:", 2);
    setServer(std::string_view(text).substr(2, end - 2));
    index = end;
    if (index < text.size() && text[index] == '\\') {
      ++index;
      end = findFirstOf(text, ":", index);
      setNamespace(std::string_view(text).substr(index, end - index));
      index = end;
    }
    if (index < text.size() && text[index] == ':') ++index;
  }

  const size_t end = findFirstOf(text, ".", index);
  setModelClass(std::string_view(text).substr(index, end - index));
  index = end;
  if (index < text.size()) ++index;  // the full stop

  if (index < text.size()) setKeys(KeyBindings(std::string_view(text).substr(index)));
}

WbemObjectPath::WbemObjectPath(const char* text)
    : WbemObjectPath(text == nullptr ? std::string_view() : std::string_view(text)) {}
