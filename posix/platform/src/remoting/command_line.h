// A local server's registered command line read as the Windows process start reads it: the
// program first (a quoted path runs to its closing quote; an unquoted one is the shortest
// prefix ending at a blank that names a program, else the whole line), then the arguments split
// as a Windows program's start-up code splits its command line.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace velt::remoting {

struct ServerCommand {
  std::string program;
  std::vector<std::string> arguments;  // after the program
};

// Nullopt for a line with no program at all. `isProgram` says whether a path names a program.
std::optional<ServerCommand> readServerCommand(
    const std::string& line, const std::function<bool(const std::string&)>& isProgram);

// The arguments of `text` by the start-up code's rules: blanks separate, double quotes group,
// 2n backslashes before a quote give n and the quote groups, 2n+1 give n and a literal quote,
// a doubled quote inside quotes gives one; other backslashes stand as they are.
std::vector<std::string> splitWindowsArguments(const std::string& text);

}  // namespace velt::remoting
