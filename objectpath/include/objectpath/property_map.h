// Key properties of an object path: names (case-insensitive, validated) to value texts.
#pragma once

#include <map>
#include <string>
#include <string_view>

// Orders names by their lower-case form (ASCII letters only), as unsigned bytes.
struct NoCaseLess {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const;
};

class PropertyMap {
 public:
  using Entries = std::map<std::string, std::string, NoCaseLess>;

  PropertyMap() = default;
  PropertyMap(const PropertyMap&) = default;
  PropertyMap& operator=(const PropertyMap&) = default;
  PropertyMap(PropertyMap&&) = default;
  PropertyMap& operator=(PropertyMap&&) = default;
  virtual ~PropertyMap() = default;

  virtual int count() const;
  // The value stored for the name; throws std::invalid_argument "property not found.".
  virtual std::string get(std::string_view name) const;
  // Inserts unless the name is already present (the first value wins); throws
  // std::invalid_argument "illegal property name." for a name failing the name rule.
  virtual void add(std::string_view name, std::string_view value);
  virtual void remove(std::string_view name);
  virtual int compare(const PropertyMap& other) const;
  virtual void clear();

  Entries::const_iterator begin() const { return m_entries.begin(); }
  Entries::const_iterator end() const { return m_entries.end(); }

 private:
  Entries m_entries;
};

class KeyBindings : public PropertyMap {
 public:
  // Parses a key list: Name=Value entries separated by commas outside double quotes.
  explicit KeyBindings(std::string_view keyList);
  explicit KeyBindings(const char* keyList);
  explicit KeyBindings(const PropertyMap& map);
  ~KeyBindings() override = default;
};
