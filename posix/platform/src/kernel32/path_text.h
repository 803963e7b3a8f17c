// Windows callers write paths with backslashes; POSIX wants slashes.
#pragma once

#include <string>

namespace velt::platform {

inline std::string posixPath(const char* windowsPath) {
  std::string path(windowsPath);
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  return path;
}

}  // namespace velt::platform
