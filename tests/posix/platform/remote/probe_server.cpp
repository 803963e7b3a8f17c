// A local server of the probe class, in the usual shape: register, loop until the last object
// and the last lock are gone, revoke; it says where it runs and what it was started with.
#include <fcntl.h>
#include <unistd.h>
#include <winplatform/posix_hooks.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>

#include "probe.h"
#include "wbem_provider_base.h"

namespace {

std::atomic<DWORD> mainThread{0};
std::atomic<LONG> liveObjects{0};
std::atomic<LONG> serverLocks{0};

void quitIfIdle() {
  if (liveObjects.load() == 0 && serverLocks.load() <= 0) {
    PostThreadMessageA(mainThread, WM_QUIT, 0, 0);
  }
}

std::mutex meeting;
std::condition_variable arrivals;
LONG arrived = 0;

class Probe final : public IRemoteProbe {
 public:
  Probe() { ++liveObjects; }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IRemoteProbe) &&
        !IsEqualIID(iid, IID_IUnmarshaled)) {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    *out = static_cast<IRemoteProbe*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --m_refs;
    if (left == 0) {
      delete this;
      --liveObjects;
      quitIfIdle();
    }
    return left;
  }
  HRESULT STDMETHODCALLTYPE ProcessId(LONG* pid) override {
    *pid = static_cast<LONG>(getpid());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Meet(LONG parties) override {
    std::unique_lock lock(meeting);
    ++arrived;
    arrivals.notify_all();
    bool met =
        arrivals.wait_for(lock, std::chrono::seconds(20), [&] { return arrived >= parties; });
    return met ? S_OK : E_FAIL;
  }

 private:
  ~Probe() = default;
  std::atomic<ULONG> m_refs{1};
};

// PROBE_ENDING makes a server end after handing out its class object, before it makes the
// object: "always", or "once:<file>" for the first server only (the one that makes <file>).
// PROBE_STOPPING, in the same forms, makes it refuse the object as a server on its way out
// does: its class revoked first, then CO_E_SERVER_STOPPING.
bool firstToSee(const char* variable) {
  const char* ending = std::getenv(variable);
  if (ending == nullptr) return false;
  if (std::strcmp(ending, "always") == 0) return true;
  if (std::strncmp(ending, "once:", 5) != 0) return false;
  int marker = open(ending + 5, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (marker < 0) return false;
  close(marker);
  return true;
}

const bool ending = [] {
  if (!firstToSee("PROBE_ENDING")) return false;
  std::printf("probe server ending\n");
  std::fflush(stdout);  // it ends by _exit, which flushes nothing
  return true;
}();

const bool stopping = [] {
  if (!firstToSee("PROBE_STOPPING")) return false;
  std::printf("probe server stopping\n");
  std::fflush(stdout);
  return true;
}();

// Ends the server's loop (which revokes the class) and waits until its endpoint is gone.
void revokeOnTheWayOut() {
  PostThreadMessageA(mainThread, WM_QUIT, 0, 0);
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const std::string endpoint = std::string(runtime != nullptr ? runtime : "") +
                               "/norvexvelt/{6B0E2D51-4C3A-4F8E-9A71-2E5D8C1B7A10}.sock";
  const auto bound = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (access(endpoint.c_str(), F_OK) == 0 && std::chrono::steady_clock::now() < bound) {
    usleep(10000);
  }
}

class Factory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory)) {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    *out = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }  // static: lives as long as the process
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    *out = nullptr;
    if (ending) _exit(0);  // gone before it answers, as a server whose last client just left
    if (stopping) {
      revokeOnTheWayOut();
      return CO_E_SERVER_STOPPING;
    }
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    auto* probe = new Probe;
    HRESULT status = probe->QueryInterface(iid, out);
    probe->Release();
    return status;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) {
      ++serverLocks;
    } else {
      --serverLocks;
    }
    quitIfIdle();
    return S_OK;
  }
};

Factory factory;

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  registerRemoteProbeMarshaler();
  // Where this goes shows where a server's output lands: its log, never a client's terminal;
  // and the folder it names, where the server works: its own, not its first client's.
  char folder[4096] = {};
  if (getcwd(folder, sizeof folder) == nullptr) folder[0] = '?';
  std::printf("probe server ready in %s\n", folder);
  // And the arguments it was started with, each in brackets.
  std::ifstream commandLine("/proc/self/cmdline", std::ios::binary);
  std::string arguments;
  std::getline(commandLine, arguments, '\0');  // the program
  std::printf("probe server arguments:");
  for (std::string argument; std::getline(commandLine, argument, '\0');) {
    std::printf(" [%s]", argument.c_str());
  }
  std::printf("\n");
  std::fflush(stdout);
  const int served = velt::test::serveClassFactory(CLSID_RemoteProbe, &factory, mainThread);
  // What its clients left here: a stub that outlived its client would hold an object forever.
  LONG proxies = 0, stubs = 0;
  VeltLiveRemoteObjects(&proxies, &stubs);
  std::printf("probe server: proxies and stubs left: %ld and %ld\n", static_cast<long>(proxies),
              static_cast<long>(stubs));
  return served;
}
