// The registry's tables, addressed by key id. Every function runs inside the caller's
// transaction. Names compare without regard to ASCII case and keep the case first written;
// children and values come in case-insensitive name order.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sqlite_db.h"

namespace velt::registry {

using KeyId = int64_t;

struct StoredValue {
  std::string name;
  DWORD type = REG_NONE;
  std::string data;
};

class KeyStore {
 public:
  explicit KeyStore(Connection& db) : m_db(db) {}

  bool exists(KeyId key);
  std::optional<KeyId> child(KeyId parent, const std::string& name);
  KeyId addChild(KeyId parent, const std::string& name);
  // Follows the names from `start`; nullopt as soon as one is missing.
  std::optional<KeyId> descend(KeyId start, const std::vector<std::string>& names);
  bool hasChildren(KeyId key);
  void remove(KeyId key);  // its values go with it
  std::optional<std::string> childNameAt(KeyId parent, DWORD index);

  std::optional<StoredValue> value(KeyId key, const std::string& name);
  void setValue(KeyId key, const std::string& name, DWORD type, const void* data, size_t size);
  bool removeValue(KeyId key, const std::string& name);
  std::optional<StoredValue> valueAt(KeyId key, DWORD index);

 private:
  Connection& m_db;
};

}  // namespace velt::registry
