#include "console.h"

#include <strings.h>

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

int reportStatus(LSTATUS status) {
  switch (status) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_KEY_DELETED:
      return reportError("The system was unable to find the specified registry key or value.");
    case ERROR_ACCESS_DENIED:
      return reportError("Access is denied.");
    case ERROR_INVALID_PARAMETER:
      return reportError("Invalid key name.");
    case ERROR_CANTOPEN:
      return reportError("The registry store could not be opened.");
    default:
      return reportError("The registry operation failed (error " + std::to_string(status) + ").");
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
