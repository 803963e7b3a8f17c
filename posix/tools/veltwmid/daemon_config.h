// The daemon's settings: $XDG_CONFIG_HOME/norvexvelt/veltwmid.conf (else ~/.config/...), lines
// of `key = value`, `#` starting a comment.
//   provider-idle-seconds = 30   how long a provider stays loaded after its last request
//   daemon-idle-seconds = 30     how long the daemon stays with no client and no provider
//   mof = /path/file.mof         compiled into the repository at start (repeatable)
//   repository = /path/repo.db   the repository (default: the user's, as veltwmi mofcomp uses)
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace veltwmid {

struct DaemonConfig {
  unsigned providerIdleSeconds = 30;
  unsigned daemonIdleSeconds = 30;
  std::vector<std::string> mofFiles;
  std::string repositoryPath;  // empty: the user's default repository
};

struct ConfigError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Where the configuration is read from.
std::string configPath();
// The settings of the file at `path` (defaults when it does not exist); throws ConfigError
// naming the line of a fault.
DaemonConfig readConfig(const std::string& path);

}  // namespace veltwmid
