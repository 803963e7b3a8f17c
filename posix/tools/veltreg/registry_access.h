// What the tool needs from the registry API, with owned handles.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "value_text.h"

namespace veltreg {

class OpenKey {
 public:
  OpenKey() = default;
  explicit OpenKey(HKEY key) : m_key(key) {}
  ~OpenKey() {
    if (m_key != nullptr) RegCloseKey(m_key);
  }
  OpenKey(OpenKey&& other) noexcept : m_key(other.m_key) { other.m_key = nullptr; }
  OpenKey(const OpenKey&) = delete;
  OpenKey& operator=(const OpenKey&) = delete;
  OpenKey& operator=(OpenKey&& other) noexcept {
    if (this != &other) {
      if (m_key != nullptr) RegCloseKey(m_key);
      m_key = other.m_key;
      other.m_key = nullptr;
    }
    return *this;
  }
  HKEY get() const { return m_key; }

 private:
  HKEY m_key = nullptr;
};

LSTATUS openKey(HKEY parent, const std::string& path, REGSAM access, OpenKey& key);
LSTATUS subkeyNames(HKEY key, std::vector<std::string>& names);
LSTATUS allValues(HKEY key, std::vector<Value>& values);
LSTATUS readValue(HKEY key, const std::string& name, Value& value);
// Removes the key and everything below it, deepest keys first.
LSTATUS deleteTree(HKEY parent, const std::string& name);

}  // namespace veltreg
