#include "provider_registrations.h"

#include <cctype>
#include <map>
#include <optional>

#include <owners/clsid_text.h>

#include "event_query.h"

namespace velt::wmi::detail {
namespace {

bool sameWord(const std::string& a, const char* b) {
  std::size_t i = 0;
  for (; i < a.size() && b[i]; ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != b[i]) return false;
  }
  return i == a.size() && !b[i];
}

class Registrar {
 public:
  Registrar(const MofDocument& document, const StagedNamespace& staged)
      : m_document(document), m_staged(staged) {}

  void apply(const MofInstance& instance) {
    const std::string& cls = instance.className;
    NamespaceData& ns = m_staged(instance.nameSpace);
    if (sameWord(cls, "__win32provider")) {
      ProviderRegistration r;
      r.name = text(instance, "name", true);
      std::u16string clsid = text(instance, "clsid", true);
      std::optional<CLSID> id = velt::clsidFromText(utf8FromUtf16(clsid));
      if (!id) fail(instance.find("clsid")->at, "malformed CLSID " + utf8FromUtf16(clsid));
      r.clsid = *id;
      ns.providers[toLower(r.name)] = r;
      if (instance.alias) m_aliases[*instance.alias] = r.name;
    } else if (sameWord(cls, "__instanceproviderregistration")) {
      ProviderRegistration& r = providerOf(instance, ns);
      r.instanceProvider = true;
      r.supportsGet = flag(instance, "supportsget");
      r.supportsPut = flag(instance, "supportsput");
      r.supportsEnumeration = flag(instance, "supportsenumeration");
    } else if (sameWord(cls, "__methodproviderregistration")) {
      providerOf(instance, ns).methodProvider = true;
    } else if (sameWord(cls, "__eventproviderregistration")) {
      ProviderRegistration& r = providerOf(instance, ns);
      r.eventProvider = true;
      const MofValue* queries = instance.find("eventquerylist");
      if (!queries) fail(instance.at, "property EventQueryList is required");
      for (const Variant& q : queries->items) {
        std::optional<std::u16string> c = eventQueryClass(q.asText());
        if (!c) fail(queries->at, "event query of the form \"select * from Class\" expected");
        r.eventClasses.push_back(*c);
      }
    } else {
      fail(instance.at, "instances of " + cls + " are not supported; only provider registrations");
    }
  }

 private:
  [[noreturn]] void fail(MofPlace at, const std::string& message) const {
    m_document.fail(at, message);
  }

  std::u16string text(const MofInstance& instance, const char* property, bool required) const {
    const MofValue* v = instance.find(property);
    if (!v) {
      if (required) fail(instance.at, std::string("property ") + property + " is required");
      return {};
    }
    if (v->isArray || v->items.front().vt() != VT_BSTR) fail(v->at, "string expected");
    return v->items.front().asText();
  }

  bool flag(const MofInstance& instance, const char* property) const {
    const MofValue* v = instance.find(property);
    if (!v) return true;
    if (v->isArray || v->items.front().vt() != VT_BOOL) fail(v->at, "boolean expected");
    return v->items.front().get()->boolVal != VARIANT_FALSE;
  }

  ProviderRegistration& providerOf(const MofInstance& instance, NamespaceData& ns) const {
    const MofValue* v = instance.find("provider");
    if (!v) fail(instance.at, "property Provider is required");
    std::u16string name;
    if (v->isAlias) {
      auto it = m_aliases.find(utf8FromUtf16(v->items.front().asText()));
      if (it == m_aliases.end())
        fail(v->at, "undefined alias $" + utf8FromUtf16(v->items.front().asText()));
      name = it->second;
    } else if (!v->isArray && v->items.front().vt() == VT_BSTR) {
      // __Win32Provider.Name="X"
      std::u16string path = v->items.front().asText();
      std::size_t open = path.find(u'"');
      std::size_t close = path.rfind(u'"');
      if (open == std::u16string::npos || close <= open) fail(v->at, "provider path expected");
      name = path.substr(open + 1, close - open - 1);
    } else {
      fail(v->at, "provider alias or path expected");
    }
    auto it = ns.providers.find(toLower(name));
    if (it == ns.providers.end()) fail(v->at, "unknown provider " + utf8FromUtf16(name));
    return it->second;
  }

  const MofDocument& m_document;
  const StagedNamespace& m_staged;
  std::map<std::string, std::u16string> m_aliases;  // alias -> provider name
};

}  // namespace

void registerProviders(const MofDocument& document, const StagedNamespace& staged) {
  Registrar registrar(document, staged);
  for (const MofInstance& instance : document.instances) registrar.apply(instance);
}

}  // namespace velt::wmi::detail
