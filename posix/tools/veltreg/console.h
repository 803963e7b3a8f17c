// What the tool says to its user: messages in the registry tool's wording, and Yes/No prompts.
#pragma once

#include <windows.h>

#include <string>

namespace veltreg {

constexpr int kSuccess = 0;
constexpr int kFailure = 1;

int reportSuccess();
// "ERROR: ..." on stderr for a registry error code met on `key` (a full key name); a failure of
// the store itself says which file and why. Answers kFailure.
int reportStatus(LSTATUS status, const std::string& key = {});
int reportError(const std::string& message);
int reportSyntax(const std::string& command);
// Asks on stdout and reads a line from stdin; only "y" or "yes" agree. End of input is No.
bool confirm(const std::string& question);
int reportCancelled();

}  // namespace veltreg
