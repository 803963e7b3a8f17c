#include "command_line.h"

namespace velt::remoting {
namespace {

bool blank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::vector<std::string> splitWindowsArguments(const std::string& text) {
  std::vector<std::string> arguments;
  size_t i = 0;
  const size_t end = text.size();
  for (;;) {
    while (i < end && blank(text[i])) ++i;
    if (i == end) return arguments;
    std::string argument;
    bool quoted = false;
    while (i < end && (quoted || !blank(text[i]))) {
      size_t slashes = 0;
      while (i < end && text[i] == '\\') ++slashes, ++i;
      if (i < end && text[i] == '"') {
        argument.append(slashes / 2, '\\');
        if (slashes % 2 == 1) {
          argument.push_back('"');
          ++i;
        } else if (quoted && i + 1 < end && text[i + 1] == '"') {
          argument.push_back('"');
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else {
        argument.append(slashes, '\\');
        if (i < end && (quoted || !blank(text[i]))) argument.push_back(text[i++]);
      }
    }
    arguments.push_back(std::move(argument));
  }
}

std::optional<ServerCommand> readServerCommand(
    const std::string& line, const std::function<bool(const std::string&)>& isProgram) {
  size_t start = 0;
  while (start < line.size() && blank(line[start])) ++start;
  if (start == line.size()) return std::nullopt;
  ServerCommand command;
  size_t rest = line.size();
  if (line[start] == '"') {
    const size_t close = line.find('"', start + 1);
    command.program =
        line.substr(start + 1, close == std::string::npos ? close : close - start - 1);
    rest = close == std::string::npos ? line.size() : close + 1;
  } else {
    // Each blank may end the program's path or lie inside it; the shortest reading that names
    // a program wins, as it does on Windows.
    for (size_t at = line.find_first_of(" \t", start); at != std::string::npos;
         at = line.find_first_of(" \t", at + 1)) {
      if (isProgram(line.substr(start, at - start))) {
        rest = at;
        break;
      }
    }
    if (rest == line.size()) {
      // Nothing shorter names a program: the whole line does, or else the first word is
      // the program that could not be started.
      if (!isProgram(line.substr(start))) rest = line.find_first_of(" \t", start);
      if (rest == std::string::npos) rest = line.size();
    }
    command.program = line.substr(start, rest - start);
  }
  if (command.program.empty()) return std::nullopt;
  command.arguments = splitWindowsArguments(line.substr(rest));
  return command;
}

}  // namespace velt::remoting
