// veltwmid: the WMI service as a per-user daemon that every client shares.
#include <strings.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "daemon.h"
#include "registration.h"

namespace {

const char kUsage[] =
    "usage: veltwmid --foreground | -RegServer | -UnregServer | --help\n"
    "  The WMI service of the user: it holds the namespaces and class definitions, keeps\n"
    "  providers loaded between requests and fans events out to every client.\n"
    "  Clients start it through COM when none runs (as \"veltwmid -Embedding\"); it ends once\n"
    "  no client and no provider needed it for its idle time.\n"
    "  --foreground   run for a service manager until SIGTERM, logging to standard error\n"
    "  -RegServer     register this executable as the service's local server\n"
    "  -UnregServer   remove that registration\n"
    "  Settings: $XDG_CONFIG_HOME/norvexvelt/veltwmid.conf (provider-idle-seconds,\n"
    "  daemon-idle-seconds, mof = FILE, repository = FILE); the repository is the one\n"
    "  veltwmi mofcomp compiles into ($XDG_DATA_HOME/norvexvelt/repository.db).\n";

bool isSwitch(const char* argument, const char* name) {
  return (argument[0] == '-' || argument[0] == '/') && strcasecmp(argument + 1, name) == 0;
}

std::string thisExecutable() {
  char path[MAX_PATH + 1] = {};
  DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::string(path, length) : std::string();
}

}  // namespace

int main(int argc, char** argv) {
  using namespace veltwmid;
  bool foreground = false, embedding = false;
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    std::string error;
    if (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0) {
      std::fputs(kUsage, stdout);
      return kExitOk;
    } else if (std::strcmp(argument, "--foreground") == 0) {
      foreground = true;
    } else if (isSwitch(argument, "Embedding")) {
      embedding = true;
    } else if (isSwitch(argument, "RegServer")) {
      std::string executable = thisExecutable();
      if (executable.empty() || !registerDaemon(executable, error)) {
        std::fprintf(stderr, "veltwmid: not registered: %s\n", error.c_str());
        return kExitFailed;
      }
      std::printf("veltwmid: registered %s\n", executable.c_str());
      return kExitOk;
    } else if (isSwitch(argument, "UnregServer")) {
      if (!unregisterDaemon(error)) {
        std::fprintf(stderr, "veltwmid: not unregistered: %s\n", error.c_str());
        return kExitFailed;
      }
      std::printf("veltwmid: unregistered\n");
      return kExitOk;
    } else {
      std::fprintf(stderr, "veltwmid: unknown argument '%s'\n%s", argument, kUsage);
      return kExitUsage;
    }
  }
  if (!foreground && !embedding) {
    std::fputs(kUsage, stderr);
    return kExitUsage;
  }
  try {
    return runDaemon(readConfig(configPath()), foreground);
  } catch (const ConfigError& fault) {
    std::fprintf(stderr, "veltwmid: %s\n", fault.what());
    return kExitUsage;
  }
}
