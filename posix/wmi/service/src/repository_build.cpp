#include "repository_build.h"

#include <owners/utf_text.h>

#include "wmi_model/mof_error.h"
#include "wmi_model/mof_reader.h"

namespace velt::wmi::detail {

bool ProviderRegistration::operator==(const ProviderRegistration& other) const {
  return name == other.name && clsid == other.clsid && instanceProvider == other.instanceProvider &&
         methodProvider == other.methodProvider && eventProvider == other.eventProvider &&
         supportsGet == other.supportsGet && supportsPut == other.supportsPut &&
         supportsEnumeration == other.supportsEnumeration && eventClasses == other.eventClasses;
}

void addStatusClasses(NamespaceData& ns, const std::u16string& server) {
  auto notify = std::make_shared<ClassDef>();
  notify->name = u"__NotifyStatus";
  notify->nameSpace = ns.name;
  notify->server = server;
  notify->properties.push_back({u"StatusCode", CIM_UINT32, {}, Variant::null(), notify->name});
  notify->index();
  auto extended = std::make_shared<ClassDef>();
  extended->name = u"__ExtendedStatus";
  extended->base = notify;
  extended->nameSpace = ns.name;
  extended->server = server;
  for (const char16_t* name : {u"Description", u"Operation", u"ParameterInfo", u"ProviderName"}) {
    extended->properties.push_back({name, CIM_STRING, {}, Variant::null(), extended->name});
  }
  extended->index();
  ns.classes[u"__notifystatus"] = std::move(notify);
  ns.classes[u"__extendedstatus"] = std::move(extended);
}

namespace {

std::string mofString(const std::u16string& text) {
  std::string out = "\"";
  for (char c : utf8FromUtf16(text)) {
    switch (c) {
      case '\\':
      case '"':
        out += '\\';
        out += c;
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        out += c;
    }
  }
  return out + "\"";
}

class Builder {
 public:
  Builder(const std::u16string& server, const Contents& previous,
          std::set<std::u16string>& replaced)
      : m_server(server), m_previous(previous), m_replaced(replaced) {}

  Contents build(const StoredContents& stored) {
    m_out.generation = stored.generation;
    for (const std::u16string& name : stored.namespaces) space(name);
    for (const auto& [nameSpace, registration] : stored.providers) {
      space(nameSpace).providers[toLower(registration.name)] = registration;
    }
    std::map<std::u16string, std::map<std::u16string, const StoredClass*>> rows;
    for (const StoredClass& row : stored.classes) {
      space(row.nameSpace);
      rows[toLower(row.nameSpace)][toLower(row.name)] = &row;
    }
    for (const auto& [key, classes] : rows) buildNamespace(m_out.namespaces[key], key, classes);
    return std::move(m_out);
  }

 private:
  NamespaceData& space(const std::u16string& name) {
    std::u16string key = toLower(name);
    auto found = m_out.namespaces.find(key);
    if (found != m_out.namespaces.end()) return found->second;
    NamespaceData& ns = m_out.namespaces[key];
    ns.name = name;
    // The status classes stay the same objects, so that classes derived from them keep theirs.
    auto before = m_previous.namespaces.find(key);
    if (before != m_previous.namespaces.end() && before->second.classes.count(u"__notifystatus") &&
        before->second.classes.count(u"__extendedstatus")) {
      for (const char16_t* status : {u"__notifystatus", u"__extendedstatus"}) {
        ns.classes[status] = before->second.classes.at(status);
      }
    } else {
      addStatusClasses(ns, m_server);
    }
    return ns;
  }

  // Superclasses first, walking each chain without recursion: chains may be long.
  void buildNamespace(NamespaceData& ns, const std::u16string& nsKey,
                      const std::map<std::u16string, const StoredClass*>& rows) {
    std::set<std::u16string> done;
    for (const auto& [key, first] : rows) {
      if (done.count(key)) continue;
      std::vector<std::u16string> chain;
      std::set<std::u16string> onChain;
      std::u16string at = key;
      while (true) {
        chain.push_back(at);
        onChain.insert(at);
        const StoredClass& row = *rows.at(at);
        if (row.superclass.empty()) break;
        std::u16string up = toLower(row.superclass);
        if (done.count(up) || !rows.count(up)) break;
        if (onChain.count(up)) {
          const std::u16string& looped = rows.at(up)->name;
          throw ReplayError(ns.name, looped,
                            "class " + utf8FromUtf16(looped) +
                                " would derive from itself through " + utf8FromUtf16(row.name));
        }
        at = up;
      }
      for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        buildClass(ns, nsKey, *rows.at(*it));
        done.insert(*it);
      }
    }
  }

  void buildClass(NamespaceData& ns, const std::u16string& nsKey, const StoredClass& row) {
    std::u16string key = toLower(row.name);
    std::shared_ptr<const ClassDef> base;
    if (!row.superclass.empty()) {
      auto found = ns.classes.find(toLower(row.superclass));
      if (found == ns.classes.end()) {
        throw ReplayError(ns.name, row.name,
                          "its superclass " + utf8FromUtf16(row.superclass) + " is gone");
      }
      base = found->second;
    }
    std::u16string fullKey = nsKey + u"|" + key;
    m_out.revisions[fullKey] = row.revision;
    std::shared_ptr<const ClassDef> old;
    auto before = m_previous.namespaces.find(nsKey);
    if (before != m_previous.namespaces.end()) {
      auto found = before->second.classes.find(key);
      if (found != before->second.classes.end()) old = found->second;
    }
    auto oldRevision = m_previous.revisions.find(fullKey);
    if (old && oldRevision != m_previous.revisions.end() && oldRevision->second == row.revision &&
        old->base == base) {
      ns.classes[key] = old;
      return;
    }
    std::string text = "#pragma namespace(" + mofString(u"\\" + row.nameSpace) + ")\n" + row.source;
    MofDocument document;
    try {
      document =
          readMof(text, row.file, m_server, [&](const std::u16string&, const std::u16string& name) {
            auto found = ns.classes.find(toLower(name));
            return found == ns.classes.end() ? nullptr : found->second;
          });
    } catch (const MofError& fault) {
      throw ReplayError(ns.name, row.name, fault.message());
    }
    if (document.classes.size() != 1 || !document.instances.empty() ||
        !equalsIgnoreCase(document.classes.front()->name, row.name)) {
      throw ReplayError(ns.name, row.name, "its stored declaration is damaged");
    }
    ns.classes[key] = document.classes.front();
    if (old) m_replaced.insert(fullKey);
  }

  const std::u16string& m_server;
  const Contents& m_previous;
  std::set<std::u16string>& m_replaced;
  Contents m_out;
};

void addProviderOf(const std::u16string& nsKey, const ClassDef& def,
                   std::set<std::u16string>& out) {
  if (const Qualifier* named = findQualifier(def.qualifiers, u"provider")) {
    out.insert(nsKey + u"|" + toLower(named->value.asText()));
  }
}

}  // namespace

Contents buildContents(const StoredContents& stored, const std::u16string& server,
                       const Contents& previous, std::set<std::u16string>& replaced) {
  return Builder(server, previous, replaced).build(stored);
}

std::set<std::u16string> staleProviders(const Contents& before, const Contents& after,
                                        const std::set<std::u16string>& replaced) {
  std::set<std::u16string> out;
  for (const auto& [nsKey, ns] : before.namespaces) {
    auto now = after.namespaces.find(nsKey);
    const NamespaceData* next = now == after.namespaces.end() ? nullptr : &now->second;
    for (const auto& [key, def] : ns.classes) {
      bool gone = !next || !next->classes.count(key);
      if (!gone && !replaced.count(nsKey + u"|" + key)) continue;
      addProviderOf(nsKey, *def, out);
      if (!gone) addProviderOf(nsKey, *next->classes.at(key), out);
      for (const auto& [providerKey, registration] : ns.providers) {
        for (const std::u16string& eventClass : registration.eventClasses) {
          if (equalsIgnoreCase(eventClass, def->name)) out.insert(nsKey + u"|" + providerKey);
        }
      }
    }
    for (const auto& [providerKey, registration] : ns.providers) {
      bool same = false;
      if (next) {
        auto found = next->providers.find(providerKey);
        same = found != next->providers.end() && found->second == registration;
      }
      if (!same) out.insert(nsKey + u"|" + providerKey);
    }
  }
  return out;
}

}  // namespace velt::wmi::detail
