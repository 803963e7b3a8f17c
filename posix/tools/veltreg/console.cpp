#include "console.h"

#include <strings.h>

#include <winplatform/registry_hooks.h>

#include <cstdio>
#include <iostream>

namespace veltreg {

int reportSuccess() {
  std::cout << "The operation completed successfully." << std::endl;
  return kSuccess;
}

int reportError(const std::string& message) {
  std::cerr << "ERROR: " << message << std::endl;
  return kFailure;
}

int reportStatus(LSTATUS status, const std::string& key) {
  switch (status) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_KEY_DELETED:
      return reportError("The system was unable to find the specified registry key or value.");
    case ERROR_ACCESS_DENIED:
      return reportError("Access is denied.");
    case ERROR_INVALID_PARAMETER:
      return reportError("Invalid key name.");
    default: {
      // The store says which file failed and why; other codes get the system's text.
      char detail[1024] = "";
      VeltRegistryLastFailure(detail, sizeof detail);
      if (detail[0] == '\0') {
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(status), 0, detail, sizeof detail, nullptr);
        std::string text(detail);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '.'))
          text.pop_back();
        std::snprintf(detail, sizeof detail, "%s (error %ld)", text.c_str(),
                      static_cast<long>(status));
      }
      return reportError((key.empty() ? std::string("The registry operation")
                                      : "The registry operation on " + key) +
                         " failed: " + detail + ".");
    }
  }
}

int reportSyntax(const std::string& command) {
  std::cerr << "ERROR: Invalid syntax.\nType \"veltreg " << command << " /?\" for usage."
            << std::endl;
  return kFailure;
}

bool confirm(const std::string& question) {
  std::cout << question << " (Yes/No)? " << std::flush;
  std::string answer;
  if (!std::getline(std::cin, answer)) {
    std::cout << std::endl;
    return false;
  }
  return strcasecmp(answer.c_str(), "y") == 0 || strcasecmp(answer.c_str(), "yes") == 0;
}

int reportCancelled() {
  std::cout << "The operation was cancelled by the user." << std::endl;
  return kFailure;
}

}  // namespace veltreg
