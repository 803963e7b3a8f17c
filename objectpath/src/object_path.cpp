#include "objectpath/object_path.h"

#include <stdexcept>
#include <utility>

#include "objectpath/path_names.h"

namespace {

std::string comparisonText(const std::string& server, const std::string& nameSpace,
                           const std::string& className) {
  return server + "!" + nameSpace + "!" + className + "!";
}

}  // namespace

int ObjectPath::compare(const ObjectPath& other) const {
  const int fields = compareFolded(comparisonText(server, nameSpace, className),
                                   comparisonText(other.server, other.nameSpace, other.className));
  return fields != 0 ? fields : keys.compare(other.keys);
}

void ObjectPath::clear() {
  server.clear();
  nameSpace.clear();
  className.clear();
  keys.clear();
}

void ObjectPath::setServer(std::string_view text) { server = upToNul(text); }

void ObjectPath::setNamespace(std::string_view text) {
  text = upToNul(text);
  if (!isValidNamespace(text)) throw std::invalid_argument("invalid namespace path value.");
  nameSpace = text;
}

void ObjectPath::setModelClass(std::string_view text) {
  text = upToNul(text);
  if (!isValidName(text)) throw std::invalid_argument("invalid model class value.");
  className = text;
}

void ObjectPath::setKeys(const PropertyMap& map) {
  if (&map == &keys) return;
  // Copied aside first, so that running out of memory leaves the old keys whole.
  PropertyMap copy(map);
  keys = std::move(copy);
}
