// POSIX-only extensions of the platform layer: test seams, hooks and the in-process
// local-server activation. The system's own code never includes this header; tests, the
// WMI stand-in and the tools may.
#pragma once

#include <windows.h>

#include "winplatform/registry_hooks.h"  // VeltRegistryReset

extern "C" {

// Makes GetModuleFileNameA(NULL, ...) (and the executable's module handle) answer `path`
// instead of the real executable, so LoadLibraryA also searches beside it. NULL restores the
// real path. Process-wide.
void VeltSetModuleFileNameOverride(const char* path);

// Receives every OutputDebugStringA text. Called under a lock, so it sees whole texts in
// order; it must not block on other threads that may write debug output. NULL removes it.
typedef void (*VeltDebugOutputHook)(const char* text, void* context);
void VeltSetDebugOutputHook(VeltDebugOutputHook hook, void* context);

// Gives the calling thread its message queue now, so PostThreadMessageA to it succeeds
// before its first GetMessageA/PeekMessageA. The WinMain shim and the local-server entry
// thread get theirs this way before their code runs.
void VeltCreateThreadMessageQueue(void);

// The local server COM starts for CLSCTX_LOCAL_SERVER activations of an unregistered class.
// `entry` runs with the command line "-Embedding" on a thread of its own, which stands for the
// server's process: each start may set the process's COM security anew; it sees `module`
// as its instance handle (NULL: the executable's) and, when `executablePath` is not NULL,
// GetModuleFileNameA(NULL) answers that path from the moment the entry starts. Passing a
// NULL entry removes it. While no entry is set, such activations start the class's
// registered LocalServer32 command as a process of its own and call it across processes.
typedef int(WINAPI* VeltWinMainFunction)(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine,
                                         int showCommand);
void VeltSetLocalServerEntry(VeltWinMainFunction entry, HINSTANCE module,
                             const char* executablePath);
// How long an activation waits for the started entry to register the class (default 30 s).
void VeltSetLocalServerStartTimeout(DWORD milliseconds);
// Waits until no local-server entry runs. TRUE and the last entry's exit code (0 when none
// has run) when it ended in time; FALSE on timeout.
BOOL VeltWaitForLocalServerExit(DWORD milliseconds, int* exitCode);
// The process ids of the local servers this process has connected to (each once, oldest
// first), so that a client can find what a server that died left behind. Fills at most
// `capacity` ids and answers how many there are.
DWORD VeltReachedLocalServers(DWORD* processIds, DWORD capacity);
// How many proxies (interface pointers to objects of other processes) and stubs (objects of
// this process that other processes hold) are alive now, so that a process can tell on its way
// out that none was left behind. Either pointer may be NULL.
void VeltLiveRemoteObjects(LONG* proxies, LONG* stubs);

// Makes CoRegisterClassObject with CLSCTX_LOCAL_SERVER serve the class to other processes
// although COM did not start this process with "-Embedding": a service a service manager
// starts registers its classes the same way. Call before registering. Process-wide.
void VeltServeLocalServerClasses(void);

// Makes the next `count` allocations of the COM task allocator (CoTaskMemAlloc, and so
// StringFromCLSID and the like) and of OLE Automation (BSTRs, SAFEARRAYs and their data) fail
// as though memory had run out; 0 stops the failures still pending. Process-wide.
void VeltFailNextOleAllocations(LONG count);

// Lets the next CoInitializeSecurity succeed again (one call per process otherwise).
void VeltResetComSecurityForTesting(void);

}  // extern "C"
