// A WinMain program run by CTest: checks what the entry shim hands over, then that SIGTERM
// arrives as WM_QUIT on this thread. Exit code 0 means every check held.
#include <signal.h>
#include <unistd.h>

#include <cstring>

#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand) {
  if (instance != GetModuleHandleA(nullptr) || previous != nullptr) return 10;
  if (std::strcmp(commandLine, "-Embedding /x  y") != 0) return 11;
  commandLine[0] = '/';  // the line is writable, as strtok needs
  if (showCommand != SW_SHOWDEFAULT) return 12;
  kill(getpid(), SIGTERM);
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
  }
  return msg.message == WM_QUIT ? 0 : 13;
}
