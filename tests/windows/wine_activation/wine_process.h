// Processes as a test under Wine sees them: its own folder, programs it runs to their end, and
// the processes COM starts for it.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "owners/unique_handle.h"

namespace velt::test {

using UniqueKernelHandle = UniqueHandle<HANDLE, &::CloseHandle>;

// True under Wine, which tells its programs its version; a real Windows says nothing.
bool runningUnderWine();

// Starts COM's service control process and waits until it runs, at most the given time; true
// when it runs. Wine starts it on a COM process's first need, but gives up early while a fresh
// prefix's services are still starting, and then COM fails for that process.
bool startRpcService(DWORD waitMilliseconds);

// The full path of a file in the folder this program was started from.
std::wstring besideThisProgram(const std::wstring& fileName);

// Runs a command line and waits at most the given time; the exit code, or nothing when the
// program could not start or did not end in time (it is then ended).
std::optional<DWORD> runToEnd(std::wstring commandLine, DWORD waitMilliseconds);

// The identifiers of the running processes started from an executable of this name.
std::vector<DWORD> processesNamed(const std::wstring& executableName);

// Another process's command line, read from its process parameters; empty when unreadable.
std::wstring commandLineOf(HANDLE process);

}  // namespace velt::test
