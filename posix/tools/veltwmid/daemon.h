// The daemon's run: the service with its repository, the locator class served to clients, and
// the lifetime that ends it.
#pragma once

#include "daemon_config.h"

namespace veltwmid {

enum ExitCode { kExitOk = 0, kExitFailed = 1, kExitUsage = 2 };

// Serves until the idle time passed with no client object, no lock and no loaded provider, or
// (in the foreground, for a service manager) until SIGTERM or SIGINT. Logs to standard error.
int runDaemon(const DaemonConfig& config, bool foreground);

}  // namespace veltwmid
