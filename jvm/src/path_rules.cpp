#include "path_rules.h"

#include "platform_names.h"

namespace velt::jvm {

std::optional<size_t> usableSeparator(std::string_view path) {
  size_t position = path.rfind(kDirectorySeparator);
  if (position == std::string_view::npos || position == 0) return std::nullopt;
  return position;
}

std::optional<std::string> runtimeBase(std::string_view executablePath) {
  auto separator = usableSeparator(executablePath);
  // A full path cannot have its last separator as its second character; such a path has no
  // base either.
  if (!separator || *separator < 2) return std::nullopt;
  return std::string(executablePath.substr(0, *separator - 2));
}

std::optional<std::string> programDirectory(std::string_view executablePath) {
  auto separator = usableSeparator(executablePath);
  if (!separator) return std::nullopt;
  return std::string(executablePath.substr(0, *separator));
}

std::string programDirectoryForPath(std::string_view executablePath) {
  auto directory = programDirectory(executablePath);
  return directory ? *directory : std::string(executablePath);
}

std::string installationDirectory(std::string_view installPath) {
  size_t position = installPath.rfind(kDirectorySeparator);
  if (position == std::string_view::npos) return std::string();
  return std::string(installPath.substr(0, position + 1));
}

std::string extendedPath(std::string_view path, std::string_view directory) {
  std::string result(path);
  if (!result.empty() && result.back() != kSearchPathSeparator) result += kSearchPathSeparator;
  result += directory;
  return result;
}

std::string crashReportPattern(std::string_view programDirectory) {
  std::string pattern;
  for (char c : programDirectory) {
    pattern += c;
    if (c == '%') pattern += '%';
  }
  return pattern + "hs_err_pid%p.log";
}

std::string_view fitWholeCharacters(std::string_view text, size_t capacity) {
  if (text.size() <= capacity) return text;
  size_t end = capacity;
  // Continuation bytes look like 10xxxxxx; back up to the byte that starts the character.
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

}  // namespace velt::jvm
