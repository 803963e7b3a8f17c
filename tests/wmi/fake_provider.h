// A provider server in C++ for the activation tests: a WinMain-shaped entry that registers a
// class factory and runs a message loop, and a provider that answers from fixed data.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include <objbase.h>
#include <wbemprov.h>
#include <windows.h>

namespace velt::wmi::test {

DEFINE_GUID(CLSID_FakeProvider, 0x5a1e0d3c, 0x7b21, 0x4c88, 0x9e, 0x51, 0x2f, 0x6a, 0x0b, 0x9c,
            0x4d, 0x17);

int WINAPI fakeProviderMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show);

struct FakeProviderLog {
  std::atomic<int> liveProviders{0};
  std::atomic<int> initializeCalls{0};
  std::mutex mutex;
  std::vector<std::u16string> calls;  // "Initialize root\test", "Put Gadget.Name=\"x\"", ...
  void add(std::u16string call) {
    std::lock_guard<std::mutex> lock(mutex);
    calls.push_back(std::move(call));
  }
  std::vector<std::u16string> snapshot() {
    std::lock_guard<std::mutex> lock(mutex);
    return calls;
  }
};
FakeProviderLog& fakeLog();

// Fires one GadgetEvent into the sink of the last ProvideEvents, from a thread of its own, as
// the Java side would; returns once it was delivered.
void fireFakeEvent(const char16_t* what);

}  // namespace velt::wmi::test
