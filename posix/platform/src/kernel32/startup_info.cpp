// The process's start-up information and command line.
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include <windows.h>

namespace {

// Rebuilds the Windows-style command line from the argument vector: arguments joined by
// blanks, quoted when they hold a blank or are empty, so a parser finds the same arguments.
std::string buildCommandLine() {
  std::ifstream file("/proc/self/cmdline", std::ios::binary);
  std::string raw((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::string line;
  size_t begin = 0;
  while (begin < raw.size()) {
    size_t end = raw.find('\0', begin);
    if (end == std::string::npos) end = raw.size();
    std::string argument = raw.substr(begin, end - begin);
    if (!line.empty()) line += ' ';
    if (argument.empty() || argument.find_first_of(" \t") != std::string::npos) {
      line += '"' + argument + '"';
    } else {
      line += argument;
    }
    begin = end + 1;
  }
  return line;
}

}  // namespace

extern "C" {

// Nothing starts a POSIX process with a show command, so none is reported.
void WINAPI GetStartupInfoA(LPSTARTUPINFOA info) {
  if (info == nullptr) return;
  std::memset(info, 0, sizeof *info);
  info->cb = sizeof *info;
}

LPSTR WINAPI GetCommandLineA(void) {
  static std::string commandLine = buildCommandLine();
  return commandLine.data();
}

}  // extern "C"
