// Starting a local server's executable as COM does: the registered command line plus
// " -Embedding", detached from the client.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace velt::remoting {

// Starts `commandLine` (a program and its arguments, read as Windows reads them) + " -Embedding"
// in a session of its own, working in the executable's folder (when the command names it by an
// absolute path), its output appended to a log beside the executable (else `fallbackLog`).
// The server's process id, or nullopt.
std::optional<pid_t> launchServer(const std::string& commandLine, const std::string& fallbackLog);

// Whether process `pid` has ended (gone, or a zombie nobody reaped yet).
bool processEnded(pid_t pid);

}  // namespace velt::remoting
