// POSIX-only controls of the registry store, for tests and tools. Not part of the Windows API.
//
// The store is one SQLite file: $VELT_REGISTRY when set and not empty, otherwise
// $XDG_DATA_HOME/norvexvelt/registry.db ($HOME/.local/share when XDG_DATA_HOME is unset or
// relative), its folders created as needed. The variable is read when the store is first
// opened, on the first registry call of the process.
#pragma once

extern "C" {

// Closes the store and invalidates every open key handle; the next registry call opens the
// store again, reading VELT_REGISTRY anew. No other thread may be inside a registry call.
void VeltRegistryReset(void);
}
