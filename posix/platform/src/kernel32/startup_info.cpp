// The process's start-up information.
#include <cstring>

#include <windows.h>

extern "C" {

// Nothing starts a POSIX process with a show command, so none is reported.
void WINAPI GetStartupInfoA(LPSTARTUPINFOA info) {
  if (info == nullptr) return;
  std::memset(info, 0, sizeof *info);
  info->cb = sizeof *info;
}

}  // extern "C"
