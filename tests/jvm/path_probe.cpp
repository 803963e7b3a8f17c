// Extends PATH twice, as two start attempts would, and prints what PATH became.
#include <jvm/JvmServices.h>

#include <cstdio>

int main() {
  appendProgramDirToPath();
  appendProgramDirToPath();
  char path[8192] = {};
  DWORD length = GetEnvironmentVariableA("PATH", path, sizeof path);
  if (length == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) {
    std::printf("unset\n");
  } else {
    std::printf("PATH=%s\n", path);
  }
  return 0;
}
