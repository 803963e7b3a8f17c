// Status names, the failures the client reports and its exit codes.
#pragma once

#include <stdexcept>
#include <string>

#include <wbemcli.h>

namespace veltwmi {

// Exit codes, as `veltwmi --help` documents them.
constexpr int kExitOk = 0;
constexpr int kExitRequestFailed = 1;  // WMI answered the request with a failure status
constexpr int kExitUsage = 2;          // bad command line, unknown name, value not of its type
constexpr int kExitSetup = 3;          // MOF unreadable or faulty, namespace unknown
constexpr int kExitVmCrashed = 4;      // the provider's Java VM crashed
constexpr int kExitInterrupted = 130;  // Ctrl-C ended a request before it completed

// "WBEM_E_NOT_FOUND"; "unknown status" for a failure code not in the table.
std::string statusName(HRESULT status);
// "WBEM_E_INVALID_OBJECT_PATH (0x8004103A)".
std::string describeStatus(HRESULT status);
// What a provider's status object (__ExtendedStatus) says, as indented lines that follow a
// failure message: its Description, then its ProviderName and Operation. "" when it says
// nothing.
std::string extendedStatusText(IWbemClassObject* status);

// A failure that ends the command with `exitCode` after its message went to stderr.
class Failure : public std::runtime_error {
 public:
  Failure(int exitCode, const std::string& message)
      : std::runtime_error(message), m_exitCode(exitCode) {}
  int exitCode() const { return m_exitCode; }

 private:
  int m_exitCode;
};

inline Failure usageError(const std::string& message) { return Failure(kExitUsage, message); }

}  // namespace veltwmi
