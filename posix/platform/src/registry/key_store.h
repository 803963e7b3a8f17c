// The registry's tables, addressed by key id. Every function runs inside the caller's
// transaction. Names compare without regard to case (beyond ASCII, as Windows does) and keep
// the case first written; children and values come in case-insensitive name order.
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
  // Changes whenever another connection has committed since.
  int64_t dataVersion() { return m_db.dataVersion(); }
  std::optional<KeyId> child(KeyId parent, const std::string& name);
  KeyId addChild(KeyId parent, const std::string& name);
  // Follows the names from `start`; nullopt as soon as one is missing.
  std::optional<KeyId> descend(KeyId start, const std::vector<std::string>& names);
  bool hasChildren(KeyId key);
  void remove(KeyId key);  // its values go with it
  // Every child's name, in order: one query, however many there are.
  std::vector<std::string> childNames(KeyId parent);

  std::optional<StoredValue> value(KeyId key, const std::string& name);
  void setValue(KeyId key, const std::string& name, DWORD type, const void* data, size_t size);
  bool removeValue(KeyId key, const std::string& name);
  std::vector<std::string> valueNames(KeyId key);

 private:
  Connection& m_db;
};

}  // namespace velt::registry
