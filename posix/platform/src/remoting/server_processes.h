// Which local-server processes this process has reached, so that a client can find what a
// server left behind when it died (a crash report named after its process id).
#pragma once

namespace velt::remoting {

// Notes the process at the other end of a connected Unix socket.
void rememberServerProcess(int socket);

}  // namespace velt::remoting
