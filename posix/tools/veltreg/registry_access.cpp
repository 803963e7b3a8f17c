#include "registry_access.h"

namespace veltreg {
namespace {
// Names are limited in characters; in UTF-8 a character takes up to three bytes (a pair of
// UTF-16 units, counted as two characters, takes four).
constexpr DWORD kMaxKeyName = 256 * 3;
constexpr DWORD kMaxValueName = 16384 * 3;
}  // namespace

LSTATUS openKey(HKEY parent, const std::string& path, REGSAM access, velt::UniqueRegistryKey& key) {
  HKEY opened = nullptr;
  LSTATUS status = RegOpenKeyExA(parent, path.c_str(), 0, access, &opened);
  if (status == ERROR_SUCCESS) key.reset(opened);
  return status;
}

LSTATUS subkeyNames(HKEY key, std::vector<std::string>& names) {
  names.clear();
  for (DWORD index = 0;; ++index) {
    char name[kMaxKeyName];
    DWORD size = kMaxKeyName;
    LSTATUS status = RegEnumKeyExA(key, index, name, &size, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (status != ERROR_SUCCESS) return status;
    names.emplace_back(name, size);
  }
}

LSTATUS allValues(HKEY key, std::vector<Value>& values) {
  values.clear();
  std::string name(kMaxValueName, '\0');
  for (DWORD index = 0;; ++index) {
    Value value;
    DWORD nameSize = kMaxValueName;
    DWORD dataSize = 0;
    LSTATUS status =
        RegEnumValueA(key, index, name.data(), &nameSize, nullptr, &value.type, nullptr, &dataSize);
    if (status == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (status != ERROR_SUCCESS) return status;
    value.name.assign(name.data(), nameSize);
    // Another process may change the value between the two calls; the size is asked anew.
    do {
      value.data.resize(dataSize);
      nameSize = kMaxValueName;
      status = RegEnumValueA(key, index, name.data(), &nameSize, nullptr, &value.type,
                             reinterpret_cast<BYTE*>(value.data.data()), &dataSize);
    } while (status == ERROR_MORE_DATA);
    if (status != ERROR_SUCCESS) return status;
    value.data.resize(dataSize);
    values.push_back(std::move(value));
  }
}

LSTATUS readValue(HKEY key, const std::string& name, Value& value) {
  value = Value{name, REG_NONE, {}};
  DWORD size = 0;
  LSTATUS status = RegQueryValueExA(key, name.c_str(), nullptr, &value.type, nullptr, &size);
  while (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) {
    value.data.resize(size);
    status = RegQueryValueExA(key, name.c_str(), nullptr, &value.type,
                              reinterpret_cast<BYTE*>(value.data.data()), &size);
    if (status == ERROR_SUCCESS) {
      value.data.resize(size);
      break;
    }
  }
  return status;
}

}  // namespace veltreg
