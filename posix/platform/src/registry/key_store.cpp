#include "key_store.h"

#include "key_path.h"

namespace velt::registry {

bool KeyStore::exists(KeyId key) {
  return Statement(m_db, "SELECT 1 FROM reg_key WHERE id = ?").bind(1, key).step();
}

std::optional<KeyId> KeyStore::child(KeyId parent, const std::string& name) {
  Statement query(m_db, "SELECT id FROM reg_key WHERE parent = ? AND velt_fold(name) = ?");
  query.bind(1, parent).bind(2, foldName(name));
  if (!query.step()) return std::nullopt;
  return query.integer(0);
}

KeyId KeyStore::addChild(KeyId parent, const std::string& name) {
  Statement(m_db, "INSERT INTO reg_key(parent, name) VALUES (?, ?)")
      .bind(1, parent)
      .bind(2, name)
      .step();
  return m_db.lastInsertId();
}

std::optional<KeyId> KeyStore::descend(KeyId start, const std::vector<std::string>& names) {
  std::optional<KeyId> key = start;
  for (const std::string& name : names) {
    key = child(*key, name);
    if (!key) break;
  }
  return key;
}

bool KeyStore::hasChildren(KeyId key) {
  return Statement(m_db, "SELECT 1 FROM reg_key WHERE parent = ? LIMIT 1").bind(1, key).step();
}

void KeyStore::remove(KeyId key) {
  Statement(m_db, "DELETE FROM reg_key WHERE id = ?").bind(1, key).step();
}

std::vector<std::string> KeyStore::childNames(KeyId parent) {
  Statement query(m_db, "SELECT name FROM reg_key WHERE parent = ? ORDER BY velt_fold(name), name");
  query.bind(1, parent);
  std::vector<std::string> names;
  while (query.step()) names.push_back(query.text(0));
  return names;
}

std::optional<StoredValue> KeyStore::value(KeyId key, const std::string& name) {
  Statement query(m_db,
                  "SELECT name, type, data FROM reg_value WHERE key = ? AND velt_fold(name) = ?");
  query.bind(1, key).bind(2, foldName(name));
  if (!query.step()) return std::nullopt;
  return StoredValue{query.text(0), static_cast<DWORD>(query.integer(1)), query.blob(2)};
}

void KeyStore::setValue(KeyId key, const std::string& name, DWORD type, const void* data,
                        size_t size) {
  // An existing value keeps the case of its name as first written.
  Statement(m_db, "UPDATE reg_value SET type = ?, data = ? WHERE key = ? AND velt_fold(name) = ?")
      .bind(1, static_cast<int64_t>(type))
      .bindBlob(2, data, size)
      .bind(3, key)
      .bind(4, foldName(name))
      .step();
  if (m_db.changes() > 0) return;
  Statement(m_db, "INSERT INTO reg_value(key, name, type, data) VALUES (?, ?, ?, ?)")
      .bind(1, key)
      .bind(2, name)
      .bind(3, static_cast<int64_t>(type))
      .bindBlob(4, data, size)
      .step();
}

bool KeyStore::removeValue(KeyId key, const std::string& name) {
  Statement(m_db, "DELETE FROM reg_value WHERE key = ? AND velt_fold(name) = ?")
      .bind(1, key)
      .bind(2, foldName(name))
      .step();
  return m_db.changes() > 0;
}

std::vector<std::string> KeyStore::valueNames(KeyId key) {
  Statement query(m_db, "SELECT name FROM reg_value WHERE key = ? ORDER BY velt_fold(name), name");
  query.bind(1, key);
  std::vector<std::string> names;
  while (query.step()) names.push_back(query.text(0));
  return names;
}

}  // namespace velt::registry
