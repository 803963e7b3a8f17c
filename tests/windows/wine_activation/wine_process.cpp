#include "wine_process.h"

#include <tlhelp32.h>
#include <winternl.h>

namespace velt::test {

bool runningUnderWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool startRpcService(DWORD waitMilliseconds) {
  using UniqueService = UniqueHandle<SC_HANDLE, &::CloseServiceHandle>;
  constexpr DWORD kRetryInterval = 500;
  for (DWORD waited = 0; waited <= waitMilliseconds; waited += kRetryInterval) {
    UniqueService manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    UniqueService service(
        manager.get() == nullptr
            ? nullptr
            : OpenServiceW(manager.get(), L"RpcSs", SERVICE_START | SERVICE_QUERY_STATUS));
    SERVICE_STATUS status{};
    if (service.get() != nullptr && QueryServiceStatus(service.get(), &status)) {
      if (status.dwCurrentState == SERVICE_RUNNING) return true;
      if (status.dwCurrentState == SERVICE_STOPPED) StartServiceW(service.get(), 0, nullptr);
    }
    Sleep(kRetryInterval);
  }
  return false;
}

std::wstring besideThisProgram(const std::wstring& fileName) {
  std::wstring path(MAX_PATH, L'\0');
  DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  path.resize(length);
  size_t slash = path.find_last_of(L"\\/");
  path.resize(slash == std::wstring::npos ? 0 : slash + 1);
  return path + fileName;
}

std::optional<DWORD> runToEnd(std::wstring commandLine, DWORD waitMilliseconds) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &started)) {
    return std::nullopt;
  }
  UniqueKernelHandle process(started.hProcess);
  UniqueKernelHandle thread(started.hThread);
  if (WaitForSingleObject(process.get(), waitMilliseconds) != WAIT_OBJECT_0) {
    TerminateProcess(process.get(), 1);
    return std::nullopt;
  }
  DWORD exitCode = 0;
  if (!GetExitCodeProcess(process.get(), &exitCode)) return std::nullopt;
  return exitCode;
}

std::vector<DWORD> processesNamed(const std::wstring& executableName) {
  std::vector<DWORD> found;
  // A snapshot that failed is INVALID_HANDLE_VALUE, not null.
  UniqueHandle<HANDLE, &::CloseHandle, InvalidHandleIsEmpty> snapshot(
      CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (snapshot.get() == INVALID_HANDLE_VALUE) return found;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
       more = Process32NextW(snapshot.get(), &entry)) {
    if (_wcsicmp(entry.szExeFile, executableName.c_str()) == 0)
      found.push_back(entry.th32ProcessID);
  }
  return found;
}

namespace {

template <class Value>
bool readFrom(HANDLE process, const void* address, Value& value) {
  SIZE_T read = 0;
  return ReadProcessMemory(process, address, &value, sizeof value, &read) && read == sizeof value;
}

}  // namespace

std::wstring commandLineOf(HANDLE process) {
  using QueryInformation = NTSTATUS(NTAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
  auto query = reinterpret_cast<QueryInformation>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
  PROCESS_BASIC_INFORMATION basic{};
  if (query == nullptr ||
      query(process, ProcessBasicInformation, &basic, sizeof basic, nullptr) != 0) {
    return {};
  }
  PEB peb{};
  RTL_USER_PROCESS_PARAMETERS parameters{};
  if (!readFrom(process, basic.PebBaseAddress, peb) ||
      !readFrom(process, peb.ProcessParameters, parameters)) {
    return {};
  }
  std::wstring text(parameters.CommandLine.Length / sizeof(WCHAR), L'\0');
  SIZE_T read = 0;
  if (!ReadProcessMemory(process, parameters.CommandLine.Buffer, text.data(),
                         parameters.CommandLine.Length, &read) ||
      read != parameters.CommandLine.Length) {
    return {};
  }
  return text;
}

}  // namespace velt::test
