// What the jars of the provider's server serve, as that server's own VM lists it: the check
// compares the registrations against it.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace veltwmi {

// The server of the Java providers: only its executable knows -ListProviders.
inline constexpr const char* kProxyProviderClsid = "{6D0F4A2E-93B7-4C51-A8E2-5F19C3D7B06A}";

struct JarProviders {
  // By lower-case WMI class: the provider class and its jar.
  std::map<std::string, std::string> instances, events;
  std::map<std::string, std::string> failedClasses;  // why a class has no usable provider
  std::vector<std::string> unloaded;                 // providers whose classes are unknown
  std::map<std::string, std::string> spelling;       // each class as its provider names it
};

// Runs the server registered for the CLSID with -ListProviders. Nothing, and `failure` set, when
// it is not registered or cannot list.
std::optional<JarProviders> listJarProviders(const std::string& clsid, std::string& failure);

}  // namespace veltwmi
