#include "jar_providers.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <sstream>

namespace veltwmi {
namespace {

std::string lower(std::string text) {
  for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::optional<std::string> serverPath(const std::string& clsid) {
  std::string key = "CLSID\\" + clsid + "\\LocalServer32";
  HKEY handle = nullptr;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  char path[MAX_PATH + 2] = {};
  DWORD size = sizeof path - 1;
  LSTATUS read =
      RegQueryValueExA(handle, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(path), &size);
  RegCloseKey(handle);
  if (read != ERROR_SUCCESS) return std::nullopt;
  std::string text(path);
  if (text.size() >= 2 && text.front() == '"') text = text.substr(1, text.find('"', 1) - 1);
  return text;
}

std::vector<std::string> fields(const std::string& line) {
  std::vector<std::string> result;
  std::stringstream in(line);
  for (std::string field; std::getline(in, field, '\t');) result.push_back(field);
  return result;
}

}  // namespace

std::optional<JarProviders> listJarProviders(const std::string& clsid, std::string& failure) {
  std::optional<std::string> server = serverPath(clsid);
  if (!server) {
    failure = "the server of " + clsid + " is not registered";
    return std::nullopt;
  }
  std::string command = "\"" + *server + "\" -ListProviders 2>&1";
#ifdef _WIN32
  FILE* output = _popen(command.c_str(), "r");
#else
  FILE* output = popen(command.c_str(), "r");
#endif
  if (output == nullptr) {
    failure = "the server " + *server + " cannot be run";
    return std::nullopt;
  }
  JarProviders listed;
  std::string said;
  char buffer[4096];
  while (std::fgets(buffer, sizeof buffer, output) != nullptr) {
    std::string line(buffer);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    std::vector<std::string> f = fields(line);
    if (f.size() >= 2 && f[0] == "provider") {
      if ((f[1] == "serves" || f[1] == "events") && f.size() >= 5) {
        (f[1] == "serves" ? listed.instances : listed.events)[lower(f[2])] =
            f[3] + " (" + f[4] + ")";
        listed.spelling[lower(f[2])] = f[2];
      } else if (f[1] == "fails" && f.size() >= 4) {
        listed.failedClasses[lower(f[2])] = f[3];
      } else if (f[1] == "unloaded" && f.size() >= 3) {
        listed.unloaded.push_back(f[2]);
      }
    } else if (line.rfind("Picked up ", 0) != 0 && !line.empty()) {
      said += (said.empty() ? "" : " ") + line;
    }
  }
#ifdef _WIN32
  int status = _pclose(output);
#else
  int status = pclose(output);
#endif
  if (status != 0) {
    failure = "the server " + *server + " cannot list the providers of its jars" +
              (said.empty() ? std::string() : ": " + said);
    return std::nullopt;
  }
  return listed;
}

}  // namespace veltwmi
