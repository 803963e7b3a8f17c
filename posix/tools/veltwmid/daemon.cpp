#include "daemon.h"

#include <objbase.h>
#include <signal.h>
#include <unistd.h>
#include <winplatform/posix_hooks.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>

#include "lifetime.h"
#include "locator.h"
#include "wmi/service.h"
#include "wmi/service_locator.h"
#include "wmi_model/objects.h"

namespace veltwmid {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kTick = std::chrono::milliseconds(100);

std::atomic<bool> g_stop{false};

void requestStop(int) { g_stop = true; }

void log(const std::string& text) {
  std::fprintf(stderr, "veltwmid[%d]: %s\n", static_cast<int>(getpid()), text.c_str());
  std::fflush(stderr);
}

// Joins COM for the daemon's life.
struct ComScope {
  HRESULT status = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  ~ComScope() {
    if (SUCCEEDED(status)) CoUninitialize();
  }
};

}  // namespace

int runDaemon(const DaemonConfig& config, bool foreground) {
  struct sigaction stop {};
  stop.sa_handler = requestStop;
  sigaction(SIGTERM, &stop, nullptr);
  sigaction(SIGINT, &stop, nullptr);

  ComScope com;
  if (FAILED(com.status)) {
    log("cannot join COM");
    return kExitFailed;
  }
  const long liveAtStart = velt::wmi::liveObjectCount();
  velt::wmi::ServiceOptions options;
  // 0 in the configuration releases a provider as soon as its last request ended.
  options.providerIdleMs = config.providerIdleSeconds > 0 ? config.providerIdleSeconds * 1000 : 1;
  // The repository veltwmi mofcomp compiles into; the service sees another process's compile
  // before its next request.
  options.repositoryPath =
      config.repositoryPath.empty() ? velt::wmi::defaultRepositoryPath() : config.repositoryPath;
  std::optional<velt::wmi::Service> opened;
  try {
    opened.emplace(options);
  } catch (const std::exception& fault) {
    log(std::string("cannot open the repository: ") + fault.what());
    return kExitFailed;
  }
  velt::wmi::Service& service = *opened;
  for (const std::string& file : config.mofFiles) {
    log("compiling " + file);
    try {
      service.loadMof(file);
    } catch (const std::exception& fault) {
      log(fault.what());
      return kExitFailed;
    }
  }

  Lifetime lifetime;
  velt::ComPtr<IClassFactory> factory =
      makeLocatorFactory(service, lifetime, options.repositoryPath);
  if (foreground) VeltServeLocalServerClasses();
  DWORD cookie = 0;
  HRESULT published = CoRegisterClassObject(velt::wmi::CLSID_VeltWmiServiceLocator, factory.get(),
                                            CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie);
  if (FAILED(published)) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(published));
    log(std::string("cannot serve the locator class: ") + code);
    return kExitFailed;
  }
  log("serving");

  const auto daemonIdle = std::chrono::seconds(config.daemonIdleSeconds);
  auto busy = [&] { return lifetime.inUse() || service.activeProviderCount() > 0; };
  auto idleSince = Clock::now();
  while (!g_stop) {
    std::this_thread::sleep_for(kTick);
    if (foreground || busy()) {
      idleSince = Clock::now();
      continue;
    }
    if (cookie == 0) break;  // withdrawn, and the clients that came meanwhile are gone
    if (Clock::now() - idleSince < daemonIdle) continue;
    // From here on new clients start another daemon. One that reached this one meanwhile is
    // served until it goes: publishing again would take the endpoint from that successor.
    CoRevokeClassObject(cookie);
    cookie = 0;
    if (!busy()) break;
  }
  if (cookie != 0) CoRevokeClassObject(cookie);
  log(g_stop ? "stopping on request" : "idle: ending");
  service.shutdown();
  factory = {};
  opened.reset();
  // With the service gone, an object still live is held by a client still connected (a stop on
  // request) or was leaked by a request, a client or a provider: a daemon that runs for weeks
  // would pile those up, so the count is the leak check of every test that ends one.
  log("objects left: " + std::to_string(velt::wmi::liveObjectCount() - liveAtStart));
  // A proxy kept (a gone client's sink, say) holds nothing of the model here, so it counts apart.
  LONG proxies = 0, stubs = 0;
  VeltLiveRemoteObjects(&proxies, &stubs);
  log("proxies and stubs left: " + std::to_string(proxies) + " and " + std::to_string(stubs));
  return kExitOk;
}

}  // namespace veltwmid
