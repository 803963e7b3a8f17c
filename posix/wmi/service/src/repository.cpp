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
    : server_(std::move(server)), inMemory_(path.empty()), database_(path) {
  if (!inMemory_) {
    // Readers never wait for a writer, and a commit is whole even when the process dies.
    database_.execute("PRAGMA journal_mode=WAL");
    database_.execute("PRAGMA synchronous=NORMAL");
  }
  prepareSchema(database_);
  std::lock_guard<std::mutex> lock(databaseMutex_);
  Transaction reading(database_, false);
  int64_t version = database_.dataVersion();
  std::set<std::u16string> replaced;
  try {
    contents_ = buildContents(readStored(database_), server_, Contents{}, replaced);
  } catch (const ReplayError& broken) {
    throw RepositoryError("the repository " + database_.path() + " is damaged: class " +
                          utf8FromUtf16(broken.className) + " in " +
                          utf8FromUtf16(broken.nameSpace) + ": " + broken.what());
  }
  seenVersion_ = version;
}

CompileReport Repository::compile(std::string_view text, const std::string& fileName) {
  struct Compiling {
    std::atomic<int>& count;
    explicit Compiling(std::atomic<int>& c) : count(c) { ++count; }
    ~Compiling() { --count; }
  } compiling(compiling_);
  std::lock_guard<std::mutex> lock(databaseMutex_);
  Transaction writing(database_, true);
  int64_t version = database_.dataVersion();
  StoredContents stored = readStored(database_);
  std::set<std::u16string> ignored;
  Contents current;
  {
    std::shared_lock<std::shared_mutex> reading(mutex_);
    current = buildContents(stored, server_, contents_, ignored);
  }
  StagedMof staged = stageMof(text, fileName, server_, current);
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
      writeClass(database_, row);
      rows[key] = row;
      changed = true;
    }
    note({CompiledItem::Kind::kClass, def.nameSpace, def.name, change});
  }
  std::set<std::u16string> declaredProviders = providersDeclared(document);
  for (const auto& [nsKey, ns] : staged.namespaces) {
    auto before = current.namespaces.find(nsKey);
    if (before == current.namespaces.end()) {
      writeNamespace(database_, ns.name);
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
        writeProvider(database_, ns.name, registration);
        changed = true;
      }
      if (change != Change::kUnchanged || declaredProviders.count(nsKey + u"|" + providerKey)) {
        note({CompiledItem::Kind::kProvider, ns.name, registration.name, change});
      }
    }
  }
  if (changed) writeGeneration(database_, generation);

  // What is stored must read back whole: a class that derives from one changed here has to
  // stay valid, or the text is refused.
  StoredContents after = changed ? readStored(database_) : std::move(stored);
  std::set<std::u16string> replaced;
  Contents next;
  try {
    std::shared_lock<std::shared_mutex> reading(mutex_);
    next = buildContents(after, server_, contents_, replaced);
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
  seenVersion_ = version;
  return report;
}

void Repository::refresh() {
  // In memory no other connection can change it; a compile in progress installs the newest.
  if (inMemory_ || compiling_ > 0) return;
  std::lock_guard<std::mutex> lock(databaseMutex_);
  try {
    if (database_.dataVersion() == seenVersion_) return;
    Transaction reading(database_, false);
    int64_t version = database_.dataVersion();
    bool same = false;
    {
      std::shared_lock<std::shared_mutex> cached(mutex_);
      same = storedGeneration(database_) == contents_.generation;
    }
    if (!same) {
      StoredContents stored = readStored(database_);
      std::set<std::u16string> replaced;
      Contents next;
      {
        std::shared_lock<std::shared_mutex> cached(mutex_);
        next = buildContents(stored, server_, contents_, replaced);
      }
      install(std::move(next), replaced);
    }
    seenVersion_ = version;
  } catch (const std::exception&) {
    // Serves what it has; the next request looks again.
  }
}

void Repository::install(Contents next, const std::set<std::u16string>& replaced) {
  std::unique_lock<std::shared_mutex> lock(mutex_);
  std::set<std::u16string> stale = staleProviders(contents_, next, replaced);
  stale_.insert(stale.begin(), stale.end());
  std::swap(contents_, next);
  lock.unlock();
  // `next` now holds the old contents, released outside the lock.
}

std::set<std::u16string> Repository::takeStaleProviders() {
  std::unique_lock<std::shared_mutex> lock(mutex_);
  return std::exchange(stale_, {});
}

std::shared_ptr<const ClassDef> Repository::findClass(const std::u16string& nameSpace,
                                                      const std::u16string& className) {
  refresh();
  std::shared_lock<std::shared_mutex> lock(mutex_);
  auto ns = contents_.namespaces.find(toLower(nameSpace));
  if (ns == contents_.namespaces.end()) return nullptr;
  auto c = ns->second.classes.find(toLower(className));
  return c == ns->second.classes.end() ? nullptr : c->second;
}

bool Repository::hasNamespace(const std::u16string& name) {
  refresh();
  std::shared_lock<std::shared_mutex> lock(mutex_);
  return contents_.namespaces.count(toLower(name)) != 0;
}

std::optional<NamespaceData> Repository::snapshot(const std::u16string& name) {
  refresh();
  std::shared_lock<std::shared_mutex> lock(mutex_);
  auto ns = contents_.namespaces.find(toLower(name));
  if (ns == contents_.namespaces.end()) return std::nullopt;
  return ns->second;
}

std::vector<NamespaceData> Repository::snapshots() {
  refresh();
  std::shared_lock<std::shared_mutex> lock(mutex_);
  std::vector<NamespaceData> all;
  for (const auto& [key, data] : contents_.namespaces) all.push_back(data);
  return all;
}

std::u16string Repository::canonicalNamespaceName(const std::u16string& name) {
  refresh();
  std::shared_lock<std::shared_mutex> lock(mutex_);
  auto ns = contents_.namespaces.find(toLower(name));
  return ns == contents_.namespaces.end() ? name : ns->second.name;
}

std::optional<ProviderRegistration> Repository::findProvider(const std::u16string& nameSpace,
                                                             const std::u16string& providerName) {
  refresh();
  std::shared_lock<std::shared_mutex> lock(mutex_);
  auto ns = contents_.namespaces.find(toLower(nameSpace));
  if (ns == contents_.namespaces.end()) return std::nullopt;
  auto p = ns->second.providers.find(toLower(providerName));
  if (p == ns->second.providers.end()) return std::nullopt;
  return p->second;
}

std::optional<ProviderRegistration> Repository::findEventProvider(
    const std::u16string& nameSpace, const std::u16string& eventClass) {
  refresh();
  std::shared_lock<std::shared_mutex> lock(mutex_);
  auto ns = contents_.namespaces.find(toLower(nameSpace));
  if (ns == contents_.namespaces.end()) return std::nullopt;
  for (const auto& [key, registration] : ns->second.providers) {
    if (!registration.eventProvider) continue;
    for (const std::u16string& c : registration.eventClasses) {
      if (equalsIgnoreCase(c, eventClass)) return registration;
    }
  }
  return std::nullopt;
}

}  // namespace velt::wmi::detail
