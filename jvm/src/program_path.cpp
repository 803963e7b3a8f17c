// PATH gains the program's directory so that the libraries loaded later find their neighbours.
#include <jvm/JvmServices.h>

#include <cstdlib>
#include <optional>

#include "executable_path.h"
#include "path_rules.h"

using namespace velt::jvm;

namespace {

// PATH as the process received it. Windows' getenv reads the C run-time's copy, which
// SetEnvironmentVariableA never changes; POSIX has one environment only, so the value is
// taken before anything can change it. Every start attempt thus extends the same value.
std::optional<std::string> capturePath() {
  const char* value = std::getenv("PATH");
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

const std::optional<std::string>& receivedPath() {
  static const std::optional<std::string> path = capturePath();
  return path;
}

// Taken while the process starts, before any code can change PATH.
[[maybe_unused]] const bool pathTakenAtStart = (receivedPath(), true);

}  // namespace

void appendProgramDirToPath() {
  const auto& path = receivedPath();
  if (!path) return;
  std::string value = extendedPath(*path, programDirectoryForPath(executablePath()));
  SetEnvironmentVariableA("PATH", value.c_str());
}
