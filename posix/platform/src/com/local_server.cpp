// In-process local-server activation: the server's entry runs on a thread of its own, which
// becomes the server's main thread, as if COM had started the executable with "-Embedding".
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include <windows.h>
#include <winplatform/posix_hooks.h>

#include "com_state.h"

namespace {

struct LocalServer {
  std::mutex mutex;
  std::condition_variable changed;
  VeltWinMainFunction entry = nullptr;
  HINSTANCE module = nullptr;
  std::optional<std::string> executablePath;
  DWORD startTimeout = 30000;
  bool running = false;
  unsigned long long runs = 0;  // tells one run of the entry from the next
  int lastExitCode = 0;
  std::thread thread;
};

LocalServer& server() {
  static auto* state = new LocalServer;
  return *state;
}

void runEntry(VeltWinMainFunction entry, HINSTANCE module, std::optional<std::string> exePath) {
  // The client may post to the server's main thread as soon as a class is registered.
  VeltCreateThreadMessageQueue();
  if (exePath) VeltSetModuleFileNameOverride(exePath->c_str());
  char commandLine[] = "-Embedding";
  int exitCode = entry(module != nullptr ? module : GetModuleHandleA(nullptr), nullptr, commandLine,
                       SW_SHOWDEFAULT);
  auto& state = server();
  {
    std::lock_guard lock(state.mutex);
    state.running = false;
    state.lastExitCode = exitCode;
  }
  state.changed.notify_all();
}

}  // namespace

namespace velt::platform::com {

void classTableChanged() {
  auto& state = server();
  { std::lock_guard lock(state.mutex); }  // orders the change before any waiter's re-check
  state.changed.notify_all();
}

bool inProcessLocalServer() {
  auto& state = server();
  std::lock_guard lock(state.mutex);
  return state.entry != nullptr;
}

DWORD localServerStartTimeout() {
  auto& state = server();
  std::lock_guard lock(state.mutex);
  return state.startTimeout;
}

HRESULT activateLocalServer(REFCLSID clsid, DWORD context) {
  auto& state = server();
  std::unique_lock lock(state.mutex);
  if (state.entry == nullptr) return REGDB_E_CLASSNOTREG;
  // A server found running may be on its way out (its last object just went): when it ends
  // without the class, COM starts the server anew, once. A run started here that ends without
  // the class is the server failing.
  for (bool startedHere = false;;) {
    if (!state.running) {
      if (state.thread.joinable()) state.thread.join();  // the last run has ended
      state.running = true;
      ++state.runs;
      startedHere = true;
      startProcessSecurityAnew();
      state.thread = std::thread(runEntry, state.entry, state.module, state.executablePath);
    }
    const auto run = state.runs;
    bool settled = state.changed.wait_for(lock, std::chrono::milliseconds(state.startTimeout), [&] {
      return classRegistered(clsid, context) || !state.running || state.runs != run;
    });
    if (classRegistered(clsid, context)) return S_OK;
    if (!settled || startedHere || state.entry == nullptr) return CO_E_SERVER_EXEC_FAILURE;
  }
}

}  // namespace velt::platform::com

extern "C" {

void VeltSetLocalServerEntry(VeltWinMainFunction entry, HINSTANCE module,
                             const char* executablePath) {
  auto& state = server();
  std::lock_guard lock(state.mutex);
  state.entry = entry;
  state.module = module;
  state.executablePath = executablePath ? std::optional<std::string>(executablePath) : std::nullopt;
}

void VeltSetLocalServerStartTimeout(DWORD milliseconds) {
  auto& state = server();
  std::lock_guard lock(state.mutex);
  state.startTimeout = milliseconds;
}

BOOL VeltWaitForLocalServerExit(DWORD milliseconds, int* exitCode) {
  auto& state = server();
  std::unique_lock lock(state.mutex);
  auto ended = [&] { return !state.running; };
  if (milliseconds == INFINITE) {
    state.changed.wait(lock, ended);
  } else if (!state.changed.wait_for(lock, std::chrono::milliseconds(milliseconds), ended)) {
    return FALSE;
  }
  // The entry has returned and no longer needs the lock, so joining here cannot deadlock.
  if (state.thread.joinable()) state.thread.join();
  if (exitCode != nullptr) *exitCode = state.lastExitCode;
  return TRUE;
}

}  // extern "C"
