// The byte stream of one connection between two processes.
#pragma once

#include <kj/async-io.h>

namespace velt::remoting {

// Loop thread: a stream over `fd`, a connected stream socket, which it takes over (and makes
// non-blocking). The loop watches the socket for reading, and for room to write only while a
// write waits for room.
kj::Own<kj::AsyncIoStream> socketStream(int fd);

}  // namespace velt::remoting
