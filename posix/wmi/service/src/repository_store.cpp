#include "repository_store.h"

#include <owners/clsid_text.h>
#include <owners/utf_text.h>

namespace velt::wmi::detail {
namespace {

constexpr int64_t kLayout = 1;

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS meta(
  name TEXT PRIMARY KEY,
  value INTEGER NOT NULL) WITHOUT ROWID;
INSERT OR IGNORE INTO meta(name, value) VALUES ('layout', 1), ('generation', 0);
CREATE TABLE IF NOT EXISTS namespaces(
  key TEXT PRIMARY KEY,
  name TEXT NOT NULL) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS classes(
  namespace TEXT NOT NULL,
  key TEXT NOT NULL,
  declared_in TEXT NOT NULL,
  name TEXT NOT NULL,
  superclass TEXT NOT NULL,
  source TEXT NOT NULL,
  file TEXT NOT NULL,
  revision INTEGER NOT NULL,
  PRIMARY KEY(namespace, key)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS providers(
  namespace TEXT NOT NULL,
  key TEXT NOT NULL,
  name TEXT NOT NULL,
  clsid TEXT NOT NULL,
  instance_provider INTEGER NOT NULL,
  method_provider INTEGER NOT NULL,
  event_provider INTEGER NOT NULL,
  supports_get INTEGER NOT NULL,
  supports_put INTEGER NOT NULL,
  supports_enumeration INTEGER NOT NULL,
  event_classes TEXT NOT NULL,
  PRIMARY KEY(namespace, key)) WITHOUT ROWID;
)sql";

std::string utf8(const std::u16string& text) { return utf8FromUtf16(text); }
std::u16string utf16(const std::string& text) { return utf16FromUtf8(text); }

// Event class names are words of a query: they hold no line break.
std::string joinLines(const std::vector<std::u16string>& items) {
  std::string out;
  for (const std::u16string& item : items) out += (out.empty() ? "" : "\n") + utf8(item);
  return out;
}

std::vector<std::u16string> splitLines(const std::string& text) {
  std::vector<std::u16string> out;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    out.push_back(utf16(text.substr(at, end - at)));
    at = end + 1;
  }
  return out;
}

}  // namespace

namespace {

// True when the tables exist; throws for a layout this version does not know.
bool schemaReady(Database& db) {
  Statement tables(db, "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'meta'");
  if (!tables.step() || tables.integer(0) == 0) return false;
  Statement layout(db, "SELECT value FROM meta WHERE name = 'layout'");
  if (layout.step() && layout.integer(0) > kLayout) {
    throw RepositoryError("the repository " + db.path() +
                          " was written by a later version of this software");
  }
  return true;
}

}  // namespace

void prepareSchema(Database& db) {
  // Every client opens the repository: only the first takes the write lock to create it.
  if (schemaReady(db)) return;
  Transaction transaction(db, true);
  if (!schemaReady(db)) db.execute(kSchema);
  transaction.commit();
}

int64_t storedGeneration(Database& db) {
  Statement generation(db, "SELECT value FROM meta WHERE name = 'generation'");
  return generation.step() ? generation.integer(0) : 0;
}

StoredContents readStored(Database& db) {
  StoredContents out;
  out.generation = storedGeneration(db);
  Statement namespaces(db, "SELECT name FROM namespaces ORDER BY key");
  while (namespaces.step()) out.namespaces.push_back(utf16(namespaces.text(0)));
  Statement classes(db,
                    "SELECT declared_in, name, superclass, source, file, revision FROM classes "
                    "ORDER BY namespace, key");
  while (classes.step()) {
    out.classes.push_back({utf16(classes.text(0)), utf16(classes.text(1)), utf16(classes.text(2)),
                           classes.text(3), classes.text(4), classes.integer(5)});
  }
  Statement providers(db,
                      "SELECT namespace, name, clsid, instance_provider, method_provider, "
                      "event_provider, supports_get, supports_put, supports_enumeration, "
                      "event_classes FROM providers ORDER BY namespace, key");
  while (providers.step()) {
    ProviderRegistration r;
    r.name = utf16(providers.text(1));
    std::optional<CLSID> id = velt::clsidFromText(providers.text(2));
    if (!id) throw RepositoryError("the repository " + db.path() + " holds a malformed CLSID");
    r.clsid = *id;
    r.instanceProvider = providers.integer(3) != 0;
    r.methodProvider = providers.integer(4) != 0;
    r.eventProvider = providers.integer(5) != 0;
    r.supportsGet = providers.integer(6) != 0;
    r.supportsPut = providers.integer(7) != 0;
    r.supportsEnumeration = providers.integer(8) != 0;
    r.eventClasses = splitLines(providers.text(9));
    out.providers.emplace_back(utf16(providers.text(0)), std::move(r));
  }
  return out;
}

void writeNamespace(Database& db, const std::u16string& name) {
  Statement(db, "INSERT OR IGNORE INTO namespaces(key, name) VALUES (?, ?)")
      .bind(1, utf8(toLower(name)))
      .bind(2, utf8(name))
      .run();
}

void writeClass(Database& db, const StoredClass& row) {
  Statement(db,
            "INSERT OR REPLACE INTO classes(namespace, key, declared_in, name, superclass, source, "
            "file, revision) VALUES (?, ?, ?, ?, ?, ?, ?, ?)")
      .bind(1, utf8(toLower(row.nameSpace)))
      .bind(2, utf8(toLower(row.name)))
      .bind(3, utf8(row.nameSpace))
      .bind(4, utf8(row.name))
      .bind(5, utf8(row.superclass))
      .bind(6, row.source)
      .bind(7, row.file)
      .bind(8, row.revision)
      .run();
}

void writeProvider(Database& db, const std::u16string& nameSpace, const ProviderRegistration& r) {
  Statement(db,
            "INSERT OR REPLACE INTO providers(namespace, key, name, clsid, instance_provider, "
            "method_provider, event_provider, supports_get, supports_put, supports_enumeration, "
            "event_classes) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
      .bind(1, utf8(toLower(nameSpace)))
      .bind(2, utf8(toLower(r.name)))
      .bind(3, utf8(r.name))
      .bind(4, velt::clsidText(r.clsid))
      .bind(5, int64_t(r.instanceProvider))
      .bind(6, int64_t(r.methodProvider))
      .bind(7, int64_t(r.eventProvider))
      .bind(8, int64_t(r.supportsGet))
      .bind(9, int64_t(r.supportsPut))
      .bind(10, int64_t(r.supportsEnumeration))
      .bind(11, joinLines(r.eventClasses))
      .run();
}

void writeGeneration(Database& db, int64_t generation) {
  Statement(db, "UPDATE meta SET value = ? WHERE name = 'generation'").bind(1, generation).run();
}

}  // namespace velt::wmi::detail
