// check: the loaded MOF cross-checked against itself, the registry and what the Java providers'
// jars serve, so that a fault shows before a request runs into it rather than as a bare status
// on the first call.
#include <windows.h>

#include <owners/clsid_text.h>
#include <owners/utf_text.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <set>
#include <string_view>

#include "class_info.h"
#include "commands.h"
#include "jar_providers.h"
#include "request.h"

namespace veltwmi {
namespace {

// The qualifiers of the published schema; anything else is most likely a typo ([kye]) that
// the reader keeps without complaint and the service then ignores.
constexpr std::string_view kKnownQualifiers =
    " abstract aggregate aggregation alias amendment arraytype association bitmap bitvalues"
    " cimtype classcontext composition constructor counter create delete deprecated description"
    " destructor displayname dynamic enumprivileges experimental gauge implemented in indication"
    " key large locale mappingstrings max maxlen maxvalue min minlen minvalue"
    " modelcorrespondence nonlocal nullvalue out override privileges propagated provider read"
    " required revision singleton static subtype terminal units uuid valuemap values version"
    " weak write writeprivileges ";

std::string lower(std::string text) {
  for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool known(const std::string& qualifier) {
  return kKnownQualifiers.find(" " + lower(qualifier) + " ") != std::string_view::npos;
}

bool flagged(const QualifierTexts& qualifiers, const char* name) {
  return std::any_of(qualifiers.begin(), qualifiers.end(), [&](const QualifierText& q) {
    return lower(q.name) == name && q.value != "FALSE";
  });
}

// What COM needs to start the server of a provider.
bool registeredAsLocalServer(const std::string& clsid) {
  velt::UniqueRegistryKey key;
  std::string path = "CLSID\\" + clsid + "\\LocalServer32";
  return RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

class Report {
 public:
  Report(Console& console, std::string nameSpace)
      : m_console(console), m_nameSpace(std::move(nameSpace)) {}
  void error(const std::string& text) { write("error", text), ++m_errors; }
  void warning(const std::string& text) { write("warning", text), ++m_warnings; }
  int errors() const { return m_errors; }
  int warnings() const { return m_warnings; }

 private:
  void write(const char* kind, const std::string& text) {
    std::lock_guard<std::mutex> lock(m_console.mutex);
    m_console.out << m_nameSpace << ": " << kind << ": " << text << '\n';
  }
  Console& m_console;
  std::string m_nameSpace;
  int m_errors = 0, m_warnings = 0;
};

void checkQualifiers(Report& report, const ClassInfo& info) {
  auto check = [&](const QualifierTexts& qualifiers, const std::string& where) {
    for (const QualifierText& q : qualifiers) {
      if (!known(q.name)) {
        report.error("class " + info.name + ": unknown qualifier [" + q.name + "] on " + where);
      }
    }
  };
  check(info.qualifiers, "the class");
  for (const auto& p : info.properties) check(p.qualifiers, "property " + p.name);
  for (const auto& m : info.methods) {
    check(m.qualifiers, "method " + m.name);
    for (const auto& p : m.parameters) check(p.qualifiers, "parameter " + m.name + "." + p.name);
  }
}

// What the jars serve, asked of the server once for every namespace checked.
struct JarCheck {
  bool asked = false;
  std::optional<JarProviders> listed;
  std::string failure;
  std::set<std::string> declared;  // lower-case classes of namespaces served by the jars

  const JarProviders* providers() {
    if (!asked) listed = listJarProviders(kProxyProviderClsid, failure), asked = true;
    return listed ? &*listed : nullptr;
  }
};

bool isProxy(const velt::wmi::RegisteredProvider& provider) {
  return lower(velt::clsidText(provider.clsid)) == lower(kProxyProviderClsid);
}

// A class the registrations send to the Java providers, but that no jar serves.
void checkServed(Report& report, const JarProviders& jars, const std::string& className,
                 bool event) {
  auto failed = jars.failedClasses.find(lower(className));
  if (failed != jars.failedClasses.end()) {
    report.error("class " + className + ": " + failed->second);
    return;
  }
  const auto& served = event ? jars.events : jars.instances;
  if (served.count(lower(className))) return;
  std::string text = "class " + className + ": " +
                     (event ? "the EventQueryList names it, but no event provider in the jars "
                              "fires it"
                            : "its provider is registered, but no provider in the jars serves it");
  for (const std::string& reason : jars.unloaded) text += "; " + reason;
  report.error(text);
}

void checkNamespace(const std::string& name,
                    const std::vector<velt::wmi::RegisteredProvider>& providers,
                    CommandContext& context, Report& report, JarCheck& jarCheck) {
  IWbemServices* ns = context.session.localNameSpace(name);
  std::vector<ClassInfo> classes;
  Delivery delivered = request(
      context, "check " + name,
      [&](IWbemObjectSink* sink) {
        return ns->CreateClassEnumAsync(nullptr, WBEM_FLAG_DEEP, nullptr, sink);
      },
      [&](IWbemClassObject* cls) { classes.push_back(classInfoOf(cls)); }, false);
  if (delivered.exitCode != kExitOk) {
    report.error("its classes cannot be listed");
    return;
  }
  std::set<std::string> declared, superclasses, eventClasses, named;
  for (const ClassInfo& info : classes) {
    declared.insert(lower(info.name));
    if (!info.superclass.empty()) superclasses.insert(lower(info.superclass));
  }
  for (const auto& provider : providers) {
    std::string providerName = utf8FromUtf16(provider.name);
    for (const std::u16string& eventClass : provider.eventClasses) {
      std::string text = utf8FromUtf16(eventClass);
      eventClasses.insert(lower(text));
      if (!declared.count(lower(text))) {
        report.error("provider " + providerName + ": its EventQueryList names " + text +
                     ", a class no loaded MOF declares");
      }
    }
    std::string clsid = velt::clsidText(provider.clsid);
    if (!registeredAsLocalServer(clsid)) {
      report.error(context.session.failureText(
          "provider " + providerName + ": CLSID " + clsid + " is not registered",
          REGDB_E_CLASSNOTREG));
      continue;
    }
    if (!isProxy(provider)) continue;
    for (const ClassInfo& info : classes) jarCheck.declared.insert(lower(info.name));
    if (const JarProviders* jars = jarCheck.providers()) {
      for (const std::u16string& eventClass : provider.eventClasses) {
        if (declared.count(lower(velt::utf8FromUtf16(eventClass)))) {
          checkServed(report, *jars, velt::utf8FromUtf16(eventClass), true);
        }
      }
    } else {
      report.error("provider " + providerName + ": " + jarCheck.failure);
    }
  }

  for (const ClassInfo& info : classes) {
    checkQualifiers(report, info);
    bool dynamic = flagged(info.qualifiers, "dynamic");
    bool hasKey = std::any_of(info.properties.begin(), info.properties.end(),
                              [](const ClassInfo::Property& p) { return p.key; });
    if (!dynamic) {
      if (!info.provider.empty() || flagged(info.qualifiers, "provider")) {
        report.warning("class " + info.name +
                       " names a provider but is not dynamic: it is never asked");
      }
      bool served = eventClasses.count(lower(info.name)) || superclasses.count(lower(info.name)) ||
                    flagged(info.qualifiers, "abstract");
      if (!served && hasKey) {
        report.warning("class " + info.name +
                       " has no provider: it is not dynamic and no EventQueryList names it, so it "
                       "has no instances and no events");
      }
      continue;
    }
    if (!hasKey && !info.singleton) {
      report.error("class " + info.name +
                   " is dynamic but has no [key] property: no instance of it can be named");
    }
    named.insert(lower(info.provider));
    auto provider = std::find_if(providers.begin(), providers.end(), [&](const auto& p) {
      return lower(utf8FromUtf16(p.name)) == lower(info.provider);
    });
    if (provider == providers.end()) {
      report.error("class " + info.name + ": provider(\"" + info.provider +
                   "\") matches no __Win32Provider of the namespace");
      continue;
    }
    if (!provider->instances && !provider->methods) {
      report.error("class " + info.name + ": provider " + info.provider +
                   " has no __InstanceProviderRegistration or __MethodProviderRegistration");
    } else if (!info.methods.empty() && !provider->methods) {
      report.warning("class " + info.name + ": its methods cannot be called, provider " +
                     info.provider + " has no __MethodProviderRegistration");
    }
    if (isProxy(*provider) && registeredAsLocalServer(velt::clsidText(provider->clsid))) {
      if (const JarProviders* jars = jarCheck.providers()) {
        checkServed(report, *jars, info.name, false);
      }
    }
  }
  for (const auto& provider : providers) {
    if (!named.count(lower(utf8FromUtf16(provider.name))) && provider.eventClasses.empty()) {
      report.warning("provider " + utf8FromUtf16(provider.name) + ": no class names it");
    }
  }
}

}  // namespace

int runCheck(const Command& command, CommandContext& context) {
  auto registrations = context.session.service().registrations();
  int errors = 0, warnings = 0;
  std::size_t checked = 0;
  JarCheck jarCheck;
  for (const auto& [wideName, providers] : registrations) {
    std::string name = utf8FromUtf16(wideName);
    if (command.nameSpace && lower(name) != lower(*command.nameSpace)) continue;
    Report report(context.console, name);
    checkNamespace(name, providers, context, report, jarCheck);
    errors += report.errors();
    warnings += report.warnings();
    ++checked;
  }
  // A provider whose class no namespace declares is dead weight, or names its class wrongly;
  // with one namespace checked, the others may well declare it.
  if (!command.nameSpace && jarCheck.listed) {
    Report report(context.console, "jars");
    for (const auto* served : {&jarCheck.listed->instances, &jarCheck.listed->events}) {
      for (const auto& [className, provider] : *served) {
        if (!jarCheck.declared.count(className)) {
          report.warning("provider " + provider + " serves class " +
                         jarCheck.listed->spelling[className] +
                         ", which no loaded MOF declares in a namespace of the Java providers");
        }
      }
    }
    warnings += report.warnings();
  }
  if (command.nameSpace && checked == 0) {
    context.session.localNameSpace(*command.nameSpace);  // throws
  }
  {
    std::lock_guard<std::mutex> lock(context.console.mutex);
    context.console.out << checked << (checked == 1 ? " namespace" : " namespaces")
                        << " checked: " << errors << (errors == 1 ? " error, " : " errors, ")
                        << warnings << (warnings == 1 ? " warning\n" : " warnings\n") << std::flush;
  }
  return errors ? kExitRequestFailed : kExitOk;
}

}  // namespace veltwmi
