// The process entry for executables whose code starts at WinMain. SIGTERM and SIGINT end the
// program the Windows way: WM_QUIT on the thread running WinMain, so its orderly shutdown
// runs. The signals are blocked in every thread and taken by sigwait on a thread of their
// own, so nothing runs in signal-handler context.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <string>
#include <thread>

#include <windows.h>
#include <winplatform/posix_hooks.h>

namespace {

void forwardStopSignals(sigset_t signals, DWORD winMainThread) {
  bool quitPosted = false;
  for (;;) {
    int signal = 0;
    if (sigwait(&signals, &signal) != 0) continue;
    if (quitPosted) _exit(128 + signal);  // asked twice: the orderly way is not getting there
    PostThreadMessageA(winMainThread, WM_QUIT, 0, 0);
    quitPosted = true;
  }
}

}  // namespace

int main(int argc, char** argv) {
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  // Before any thread exists, so every thread inherits the mask.
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  VeltCreateThreadMessageQueue();
  std::thread(forwardStopSignals, stopSignals, GetCurrentThreadId()).detach();

  std::string commandLine;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) commandLine += ' ';
    commandLine += argv[i];
  }
  STARTUPINFOA startup;
  GetStartupInfoA(&startup);
  const int show =
      (startup.dwFlags & STARTF_USESHOWWINDOW) != 0 ? startup.wShowWindow : SW_SHOWDEFAULT;
  return WinMain(GetModuleHandleA(nullptr), nullptr, commandLine.data(), show);
}
