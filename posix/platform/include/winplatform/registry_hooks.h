// POSIX-only controls of the registry store, for tests and tools. Not part of the Windows API.
//
// The store is one SQLite file: $VELT_REGISTRY when set and not empty, otherwise
// $XDG_DATA_HOME/norvexvelt/registry.db ($HOME/.local/share when XDG_DATA_HOME is unset or
// relative), its folders created when a call first writes. The variable is read when the
// store is first opened, on the first registry call of the process.
#pragma once

#include <stddef.h>

extern "C" {

// Closes the store and invalidates every open key handle; the next registry call opens the
// store again, reading VELT_REGISTRY anew. No other thread may be inside a registry call.
void VeltRegistryReset(void);

// Why the calling thread's last registry call failed in the store itself (ERROR_CANTOPEN,
// ERROR_BADDB, ERROR_CANTWRITE, ...): which file, and the system's reason, e.g. "cannot write
// the registry file /x/registry.db: Permission denied". Empty after a call the store did not
// fail. Copies at most size - 1 characters and a terminating zero; answers the full length.
size_t VeltRegistryLastFailure(char* buffer, size_t size);

// The SQL virtual-machine steps the store has run in this process: a measure of its work.
unsigned long long VeltRegistryStatementSteps(void);
}
