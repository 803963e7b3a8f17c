#include "repository.h"

#include "mof_loading.h"
#include "repository_build.h"
#include "repository_store.h"

namespace velt::wmi::detail {
namespace {

using Change = CompiledItem::Change;

// The place in the compiled text that a broken stored class leads back to: the declaration of
// its nearest superclass (or itself) that this text changes.
MofPlace placeOfBreak(const StagedMof& staged, const StoredContents& stored,
                      const ReplayError& broken) {
  std::map<std::u16string, std::u16string> superclassOf;
  for (const StoredClass& row : stored.classes) {
    superclassOf[classKey(row.nameSpace, row.name)] = row.superclass;
  }
  std::map<std::u16string, MofPlace> declared;
  for (std::size_t i = 0; i < staged.document.classes.size(); ++i) {
    const ClassDef& def = *staged.document.classes[i];
    declared.emplace(classKey(def.nameSpace, def.name), staged.document.classSources[i].at);
  }
  std::u16string at = broken.className;
  for (std::size_t steps = 0; steps <= superclassOf.size() && !at.empty(); ++steps) {
    std::u16string key = classKey(broken.nameSpace, at);
    auto found = declared.find(key);
    if (found != declared.end()) return found->second;
    auto up = superclassOf.find(key);
    if (up == superclassOf.end()) break;
    at = up->second;
  }
  return staged.document.classSources.empty() ? MofPlace{1, 1}
                                              : staged.document.classSources.front().at;
}

// The providers the text registers, by "ns|provider".
std::set<std::u16string> providersDeclared(const MofDocument& document) {
  std::set<std::u16string> out;
  for (const MofInstance& instance : document.instances) {
    if (!equalsIgnoreCase(utf16FromUtf8(instance.className), u"__Win32Provider")) continue;
    if (const MofValue* name = instance.find("name")) {
      out.insert(classKey(instance.nameSpace, name->items.front().asText()));
    }
  }
  return out;
}

}  // namespace

Repository::Repository(const std::string& path, std::u16string server)
    : m_server(std::move(server)), m_inMemory(path.empty()), m_database(path) {
  if (!m_inMemory) {
    // Readers never wait for a writer, and a commit is whole even when the process dies.
    m_database.execute("PRAGMA journal_mode=WAL");
    m_database.execute("PRAGMA synchronous=NORMAL");
  }
  prepareSchema(m_database);
  std::lock_guard<std::mutex> lock(m_databaseMutex);
  Transaction reading(m_database, false);
  int64_t version = m_database.dataVersion();
  std::set<std::u16string> replaced;
  try {
    m_contents = buildContents(readStored(m_database), m_server, Contents{}, replaced);
  } catch (const ReplayError& broken) {
    throw RepositoryError("the repository " + m_database.path() + " is damaged: class " +
                          utf8FromUtf16(broken.className) + " in " +
                          utf8FromUtf16(broken.nameSpace) + ": " + broken.what());
  }
  m_seenVersion = version;
}

CompileReport Repository::compile(std::string_view text, const std::string& fileName) {
  struct Compiling {
    std::atomic<int>& count;
    explicit Compiling(std::atomic<int>& c) : count(c) { ++count; }
    ~Compiling() { --count; }
  } compiling(m_compiling);
  std::lock_guard<std::mutex> lock(m_databaseMutex);
  Transaction writing(m_database, true);
  int64_t version = m_database.dataVersion();
  StoredContents stored = readStored(m_database);
  std::set<std::u16string> ignored;
  Contents current;
  {
    std::shared_lock<std::shared_mutex> reading(m_mutex);
    current = buildContents(stored, m_server, m_contents, ignored);
  }
  StagedMof staged = stageMof(text, fileName, m_server, current);
  const MofDocument& document = staged.document;

  CompileReport report;
  std::map<std::u16string, std::size_t> reported;  // a class declared twice reports once
  auto note = [&](CompiledItem item) {
    std::u16string key = std::u16string(item.kind == CompiledItem::Kind::kClass ? u"c" : u"p") +
                         classKey(item.nameSpace, item.name);
    auto [at, added] = reported.emplace(key, report.size());
    if (added) {
      report.push_back(std::move(item));
    } else if (item.change != Change::kUnchanged) {
      Change first = report[at->second].change;
      report[at->second].change = first == Change::kUnchanged ? item.change : first;
    }
  };

  int64_t generation = stored.generation + 1;
  bool changed = false;
  std::map<std::u16string, StoredClass> rows;
  for (StoredClass& row : stored.classes) rows[classKey(row.nameSpace, row.name)] = row;
  for (std::size_t i = 0; i < document.classes.size(); ++i) {
    const ClassDef& def = *document.classes[i];
    const MofClassSource& source = document.classSources[i];
    StoredClass row{def.nameSpace,
                    def.name,
                    def.base ? def.base->name : std::u16string(),
                    std::string(text.substr(source.begin, source.end - source.begin)),
                    fileName,
                    generation};
    std::u16string key = classKey(def.nameSpace, def.name);
    auto old = rows.find(key);
    Change change = Change::kAdded;
    if (old != rows.end()) {
      const StoredClass& was = old->second;
      bool same = was.source == row.source && was.nameSpace == row.nameSpace &&
                  was.name == row.name && was.superclass == row.superclass;
      change = same ? Change::kUnchanged : Change::kReplaced;
    }
    if (change != Change::kUnchanged) {
      writeClass(m_database, row);
      rows[key] = row;
      changed = true;
    }
    note({CompiledItem::Kind::kClass, def.nameSpace, def.name, change});
  }
  std::set<std::u16string> declaredProviders = providersDeclared(document);
  for (const auto& [nsKey, ns] : staged.namespaces) {
    auto before = current.namespaces.find(nsKey);
    if (before == current.namespaces.end()) {
      writeNamespace(m_database, ns.name);
      changed = true;
    }
    for (const auto& [providerKey, registration] : ns.providers) {
      const ProviderRegistration* was = nullptr;
      if (before != current.namespaces.end()) {
        auto found = before->second.providers.find(providerKey);
        if (found != before->second.providers.end()) was = &found->second;
      }
      Change change =
          !was ? Change::kAdded : (*was == registration ? Change::kUnchanged : Change::kReplaced);
      if (change != Change::kUnchanged) {
        writeProvider(m_database, ns.name, registration);
        changed = true;
      }
      if (change != Change::kUnchanged || declaredProviders.count(nsKey + u"|" + providerKey)) {
        note({CompiledItem::Kind::kProvider, ns.name, registration.name, change});
      }
    }
  }
  if (changed) writeGeneration(m_database, generation);

  // What is stored must read back whole: a class that derives from one changed here has to
  // stay valid, or the text is refused.
  StoredContents after = changed ? readStored(m_database) : std::move(stored);
  std::set<std::u16string> replaced;
  Contents next;
  try {
    std::shared_lock<std::shared_mutex> reading(m_mutex);
    next = buildContents(after, m_server, m_contents, replaced);
  } catch (const ReplayError& broken) {
    MofPlace at = placeOfBreak(staged, after, broken);
    bool own = false;
    for (const auto& def : document.classes) {
      own = own || (equalsIgnoreCase(def->name, broken.className) &&
                    equalsIgnoreCase(def->nameSpace, broken.nameSpace));
    }
    document.fail(
        at, own ? std::string(broken.what())
                : "class " + utf8FromUtf16(broken.className) +
                      " derives from this class and would no longer be valid: " + broken.what());
  }
  writing.commit();
  install(std::move(next), replaced);
  m_seenVersion = version;
  return report;
}

void Repository::refresh() {
  // In memory no other connection can change it; a compile in progress installs the newest.
  if (m_inMemory || m_compiling > 0) return;
  std::lock_guard<std::mutex> lock(m_databaseMutex);
  try {
    if (m_database.dataVersion() == m_seenVersion) return;
    Transaction reading(m_database, false);
    int64_t version = m_database.dataVersion();
    bool same = false;
    {
      std::shared_lock<std::shared_mutex> cached(m_mutex);
      same = storedGeneration(m_database) == m_contents.generation;
    }
    if (!same) {
      StoredContents stored = readStored(m_database);
      std::set<std::u16string> replaced;
      Contents next;
      {
        std::shared_lock<std::shared_mutex> cached(m_mutex);
        next = buildContents(stored, m_server, m_contents, replaced);
      }
      install(std::move(next), replaced);
    }
    m_seenVersion = version;
  } catch (const std::exception&) {
    // Serves what it has; the next request looks again.
  }
}

void Repository::install(Contents next, const std::set<std::u16string>& replaced) {
  std::unique_lock<std::shared_mutex> lock(m_mutex);
  std::set<std::u16string> stale = staleProviders(m_contents, next, replaced);
  m_stale.insert(stale.begin(), stale.end());
  std::swap(m_contents, next);
  lock.unlock();
  // `next` now holds the old contents, released outside the lock.
}

std::set<std::u16string> Repository::takeStaleProviders() {
  std::unique_lock<std::shared_mutex> lock(m_mutex);
  return std::exchange(m_stale, {});
}

std::shared_ptr<const ClassDef> Repository::findClass(const std::u16string& nameSpace,
                                                      const std::u16string& className) {
  refresh();
  std::shared_lock<std::shared_mutex> lock(m_mutex);
  auto ns = m_contents.namespaces.find(toLower(nameSpace));
  if (ns == m_contents.namespaces.end()) return nullptr;
  auto c = ns->second.classes.find(toLower(className));
  return c == ns->second.classes.end() ? nullptr : c->second;
}

bool Repository::hasNamespace(const std::u16string& name) {
  refresh();
  std::shared_lock<std::shared_mutex> lock(m_mutex);
  return m_contents.namespaces.count(toLower(name)) != 0;
}

std::optional<NamespaceData> Repository::snapshot(const std::u16string& name) {
  refresh();
  std::shared_lock<std::shared_mutex> lock(m_mutex);
  auto ns = m_contents.namespaces.find(toLower(name));
  if (ns == m_contents.namespaces.end()) return std::nullopt;
  return ns->second;
}

std::vector<NamespaceData> Repository::snapshots() {
  refresh();
  std::shared_lock<std::shared_mutex> lock(m_mutex);
  std::vector<NamespaceData> all;
  for (const auto& [key, data] : m_contents.namespaces) all.push_back(data);
  return all;
}

std::u16string Repository::canonicalNamespaceName(const std::u16string& name) {
  refresh();
  std::shared_lock<std::shared_mutex> lock(m_mutex);
  auto ns = m_contents.namespaces.find(toLower(name));
  return ns == m_contents.namespaces.end() ? name : ns->second.name;
}

std::optional<ProviderRegistration> Repository::findProvider(const std::u16string& nameSpace,
                                                             const std::u16string& providerName) {
  refresh();
  std::shared_lock<std::shared_mutex> lock(m_mutex);
  auto ns = m_contents.namespaces.find(toLower(nameSpace));
  if (ns == m_contents.namespaces.end()) return std::nullopt;
  auto p = ns->second.providers.find(toLower(providerName));
  if (p == ns->second.providers.end()) return std::nullopt;
  return p->second;
}

std::optional<ProviderRegistration> Repository::findEventProvider(
    const std::u16string& nameSpace, const std::u16string& eventClass) {
  refresh();
  std::shared_lock<std::shared_mutex> lock(m_mutex);
  auto ns = m_contents.namespaces.find(toLower(nameSpace));
  if (ns == m_contents.namespaces.end()) return std::nullopt;
  for (const auto& [key, registration] : ns->second.providers) {
    if (!registration.eventProvider) continue;
    for (const std::u16string& c : registration.eventClasses) {
      if (equalsIgnoreCase(c, eventClass)) return registration;
    }
  }
  return std::nullopt;
}

}  // namespace velt::wmi::detail
