// The process entry: registers or unregisters the server, or serves until the factory machinery
// posts the quit message.
#include <windows.h>

#include <objbase.h>

#include <cstring>

#include "server/factory.h"
#include "server/server_exit_codes.h"
#include "trace/trace.h"

namespace {

constexpr char kClassName[] = "CFactory";

void reportRegistrationOutcome(const char* what, HRESULT hr) {
  OutputDebugStringA(SUCCEEDED(hr) ? "NorvexVelt Proxy Provider: "
                                   : "NorvexVelt Proxy Provider: FAILED: ");
  OutputDebugStringA(what);
  OutputDebugStringA("\n");
}

// Runs the server until the quit message arrives. False when a class factory could not be
// registered: nothing could ever create a component, so nothing would ever post the quit.
bool serve() {
  if (!CFactory::StartFactories()) {
    trace(kClassName, "Could not register the class factory; the server stops.", 0);
    CFactory::StopFactories();
    return false;
  }
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
  CFactory::StopFactories();
  // A client may have been handed a component after the quit was posted: it asked just as the
  // last one went, while the quit waited in the queue. Ending now would take that component
  // away under its client. With the factories revoked, new activations start another server;
  // this one serves what it still holds, each later quit a cue to look again.
  if (!CFactory::ReadyToEnd()) {
    trace(kClassName, "Components are still alive; the server serves them before it ends.", 0);
    do {
      int got = GetMessageA(&message, nullptr, 0, 0);
      if (got < 0) break;
      if (got > 0) DispatchMessageA(&message);
    } while (!CFactory::ReadyToEnd());
  }
  return true;
}

}  // namespace

extern "C" int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR commandLine,
                              int /*showCommand*/) {
  openTraceLog();
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return kExitComFailed;
  CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_CONNECT,
                       RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
  CFactory::sm_mainThreadId = GetCurrentThreadId();
  CFactory::sm_module = instance;

  bool registrationSeen = false;
  bool registrationFailed = false;
  static const char kSeparators[] = "-/";
  for (char* token = commandLine != nullptr ? std::strtok(commandLine, kSeparators) : nullptr;
       token != nullptr; token = std::strtok(nullptr, kSeparators)) {
    if (_stricmp(token, "UnregServer") == 0) {
      HRESULT hr = CFactory::UnregisterEntries();
      reportRegistrationOutcome("unregistered", hr);
      registrationFailed |= FAILED(hr);
      registrationSeen = true;
    } else if (_stricmp(token, "RegServer") == 0) {
      HRESULT hr = CFactory::RegisterEntries();
      reportRegistrationOutcome("registered", hr);
      registrationFailed |= FAILED(hr);
      registrationSeen = true;
    } else if (_stricmp(token, "Embedding") == 0) {
      break;
    } else if (_stricmp(token, "ListProviders") == 0) {
      // Asked by a check of the registrations: lists and ends, serving nothing.
      int listed = listHostedProviders();
      CoUninitialize();
      closeTraceLog();
      return listed == 0 ? kExitOk : kExitListingFailed;
    }
  }

  int exitCode = kExitOk;
  if (registrationSeen) {
    if (registrationFailed) exitCode = kExitRegistrationFailed;
  } else if (!serve()) {
    exitCode = kExitFactoriesFailed;
  }

  CoUninitialize();
  closeTraceLog();
  return exitCode;
}
