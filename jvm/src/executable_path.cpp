#include "executable_path.h"

#include <windows.h>

namespace velt::jvm {

std::string executablePath() {
  char path[MAX_PATH] = {};
  DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::string();
  return std::string(path, length);
}

}  // namespace velt::jvm
