#include "objectpath/property_map.h"

#include <stdexcept>

#include "objectpath/path_names.h"

bool NoCaseLess::operator()(std::string_view a, std::string_view b) const {
  return compareFolded(a, b) < 0;
}

int PropertyMap::count() const { return static_cast<int>(m_entries.size()); }

std::string PropertyMap::get(std::string_view name) const {
  const auto found = m_entries.find(upToNul(name));
  if (found == m_entries.end()) throw std::invalid_argument("property not found.");
  return found->second;
}

void PropertyMap::add(std::string_view name, std::string_view value) {
  name = upToNul(name);
  if (!isValidName(name)) throw std::invalid_argument("illegal property name.");
  if (m_entries.find(name) != m_entries.end()) return;  // the first value given is kept
  m_entries.emplace(std::string(name), std::string(upToNul(value)));
}

void PropertyMap::remove(std::string_view name) {
  const auto found = m_entries.find(upToNul(name));
  if (found != m_entries.end()) m_entries.erase(found);
}

namespace {

// Every entry as name=value, in map order, with nothing between entries.
std::string comparisonText(const PropertyMap& map) {
  std::string text;
  for (const auto& [name, value] : map) {
    text += name;
    text += '=';
    text += value;
  }
  return text;
}

}  // namespace

int PropertyMap::compare(const PropertyMap& other) const {
  return compareFolded(comparisonText(*this), comparisonText(other));
}

void PropertyMap::clear() { m_entries.clear(); }
