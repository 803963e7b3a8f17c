// The Java VM of the provider's server runs in this process; when it crashes it leaves a report
// named after the process, and the session must not end as though nothing had happened.
#pragma once

#include <optional>
#include <string>

namespace veltwmi {

// The crash report of this process's VM: beside the server, where the server directs it, or
// where the VM falls back to when it cannot write there (the current folder, then /tmp).
std::optional<std::string> findCrashReport(const std::string& serverExecutablePath);

}  // namespace veltwmi
