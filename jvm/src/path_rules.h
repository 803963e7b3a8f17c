// The text rules by which the runtime services turn the executable's path, PATH and the
// installation record into the places they search and the values they hand to Java.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace velt::jvm {

// The position of the path's last directory separator, unless there is none or it is the
// first character (no directory can be derived then).
std::optional<size_t> usableSeparator(std::string_view path);

// The base the runtime tree hangs off: the path cut two characters before its last separator.
std::optional<std::string> runtimeBase(std::string_view executablePath);

// The executable's directory without its trailing separator.
std::optional<std::string> programDirectory(std::string_view executablePath);

// The executable's directory as PATH gets it: the whole path when no usable separator exists.
std::string programDirectoryForPath(std::string_view executablePath);

// "Install Path" up to and including its last separator; empty without any separator.
std::string installationDirectory(std::string_view installPath);

// PATH with the directory behind it. An empty PATH becomes the directory alone: an empty list
// entry would add the current directory to the search.
std::string extendedPath(std::string_view path, std::string_view directory);

// Where the VM writes its report when it crashes: beside the trace log, in the program's
// directory (with its trailing separator), never in whatever folder the process runs in. The VM
// expands %p to its process id, so a '%' of the directory itself is doubled.
std::string crashReportPattern(std::string_view programDirectory);

// The longest prefix of modified UTF-8 `text` that fits in `capacity` bytes without splitting
// a character.
std::string_view fitWholeCharacters(std::string_view text, size_t capacity);

}  // namespace velt::jvm
