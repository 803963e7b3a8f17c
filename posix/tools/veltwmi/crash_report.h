// The Java VM runs in the provider's server, a process of its own (or, for tests, in this one);
// when it crashes it leaves a report named after that process, and a session whose server died
// must say where it is.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace veltwmi {

// The crash report of a VM in one of `processIds`: beside the server (where the server directs
// it, and the server's working folder), or where the VM falls back to when it cannot write
// there (the current folder of an in-process server, then /tmp).
std::optional<std::string> findCrashReport(const std::string& serverExecutablePath,
                                           const std::vector<unsigned long>& processIds);

// The same for this process and every provider server it has reached.
std::optional<std::string> findCrashReport(const std::string& serverExecutablePath);

// A crash report written at `since` or later, beside the server or in /tmp: for a client of the
// shared service, which reaches the provider's server through the service and so never learns
// its process id.
std::optional<std::string> findCrashReportSince(const std::string& serverExecutablePath,
                                                std::filesystem::file_time_type since);

}  // namespace veltwmi
