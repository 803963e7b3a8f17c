#include "daemon_config.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace veltwmid {
namespace {

std::string trimmed(const std::string& text) {
  const char* blanks = " \t\r";
  std::size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

unsigned seconds(const std::string& value, const std::string& where) {
  // A day bounds the wait, so the product in milliseconds never overflows.
  constexpr unsigned long kMaxSeconds = 86400;
  char* end = nullptr;
  errno = 0;
  unsigned long number =
      value.empty() || value[0] == '-' ? 0 : std::strtoul(value.c_str(), &end, 10);
  if (value.empty() || value[0] == '-' || errno != 0 || end == nullptr || *end != '\0' ||
      number > kMaxSeconds) {
    throw ConfigError(where + ": expected a number of seconds from 0 to 86400, found '" + value +
                      "'");
  }
  return static_cast<unsigned>(number);
}

}  // namespace

std::string configPath() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  std::filesystem::path folder;
  if (config != nullptr && config[0] == '/') {
    folder = config;
  } else {
    const char* home = std::getenv("HOME");
    folder = std::filesystem::path(home != nullptr ? home : "") / ".config";
  }
  return (folder / "norvexvelt" / "veltwmid.conf").string();
}

DaemonConfig readConfig(const std::string& path) {
  DaemonConfig config;
  std::ifstream in(path);
  if (!in) return config;
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    std::string where = path + ":" + std::to_string(number);
    std::string text = trimmed(line.substr(0, line.find('#')));
    if (text.empty()) continue;
    std::size_t equals = text.find('=');
    if (equals == std::string::npos) throw ConfigError(where + ": expected key = value");
    std::string key = trimmed(text.substr(0, equals));
    std::string value = trimmed(text.substr(equals + 1));
    if (key == "provider-idle-seconds") {
      config.providerIdleSeconds = seconds(value, where);
    } else if (key == "daemon-idle-seconds") {
      config.daemonIdleSeconds = seconds(value, where);
    } else if (key == "repository") {
      if (value.empty() || value[0] != '/') {
        throw ConfigError(where + ": repository needs an absolute path");
      }
      config.repositoryPath = value;
    } else if (key == "mof") {
      if (value.empty()) throw ConfigError(where + ": mof needs a file");
      config.mofFiles.push_back(value);
    } else {
      throw ConfigError(where + ": unknown key '" + key + "'");
    }
  }
  return config;
}

}  // namespace veltwmid
