// Events through the real Glue and SDK from a provider that fires in a tight loop, ended by the
// provider's destruction, by a replacing ProvideEvents and by two ProvideEvents at once, round
// after round. Each sink stays readable after its last release and counts what reaches it
// then: nothing may, and every sink must be released exactly once.
#include <gtest/gtest.h>

#include <wmi/service.h>
#include <wmi_model/low_arena.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "in_process_server.h"

namespace {

using velt::host::InProcessServer;

constexpr int kRoundsPerEnding = 15;
constexpr long kEventsBeforeTheEnd = 20;

class TrackedSink final : public IWbemObjectSink {
 public:
  // Java names the sink by 32 bits, so it lives where they reach.
  static TrackedSink* create() {
    return new (velt::wmi::lowArenaAllocate(sizeof(TrackedSink))) TrackedSink;
  }
  void destroy() {
    this->~TrackedSink();
    velt::wmi::lowArenaFree(this, sizeof(TrackedSink));
  }

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    *out = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IWbemObjectSink) ? this : nullptr;
    if (*out == nullptr) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++references); }
  STDMETHODIMP_(ULONG) Release() override {
    long left = --references;
    if (left < 0) overReleases++;
    return static_cast<ULONG>(left);
  }
  STDMETHODIMP Indicate(LONG, IWbemClassObject**) override {
    (references.load() > 0 ? indicated : afterRelease)++;
    return WBEM_S_NO_ERROR;
  }
  STDMETHODIMP SetStatus(LONG, HRESULT, BSTR, IWbemClassObject*) override {
    return WBEM_S_NO_ERROR;
  }

  std::atomic<long> references{1};
  std::atomic<long> indicated{0};
  std::atomic<long> afterRelease{0};
  std::atomic<long> overReleases{0};
};

class EventStorm : public ::testing::Test {
 protected:
  // One provider object stays for the whole test, so that the server and its VM do too.
  void SetUp() override { anchor = host.newProviderObject(); }
  void TearDown() override {
    if (anchor != nullptr) anchor->Release();
    EXPECT_TRUE(host.shutDown());
    for (TrackedSink* sink : sinks) {
      EXPECT_EQ(sink->afterRelease.load(), 0) << "events reached a released sink";
      EXPECT_EQ(sink->overReleases.load(), 0) << "a sink was released once too often";
      EXPECT_EQ(sink->references.load(), 0) << "a sink was never released";
      sink->destroy();
    }
    EXPECT_EQ(velt::wmi::liveObjectCount(), host.liveObjectsAtStart());
    std::ifstream log(host.logPath());
    for (std::string line; std::getline(log, line);) {
      EXPECT_EQ(line.find("WARNING"), std::string::npos) << "the VM reported: " << line;
    }
  }

  // `round` on the event interface of a fresh provider object, kRoundsPerEnding times; the
  // object's destructor ends whatever storm is left.
  void rounds(const std::function<void(IWbemEventProvider*)>& round) {
    for (int i = 0; i < kRoundsPerEnding; ++i) {
      IWbemServices* object = host.newProviderObject();
      ASSERT_NE(object, nullptr);
      IWbemEventProvider* events = nullptr;
      object->QueryInterface(IID_IWbemEventProvider, reinterpret_cast<void**>(&events));
      ASSERT_NE(events, nullptr);
      round(events);
      events->Release();
      object->Release();
    }
  }

  // A sink handed to ProvideEvents; the provider's reference is the only one left.
  TrackedSink* provide(IWbemEventProvider* events) {
    TrackedSink* sink = TrackedSink::create();
    sinks.push_back(sink);
    EXPECT_EQ(events->ProvideEvents(sink, 0), WBEM_S_NO_ERROR);
    sink->Release();
    return sink;
  }

  // Waits, bounded, until the storm has reached the sink.
  static void awaitEvents(const TrackedSink* sink) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (sink->indicated.load() < kEventsBeforeTheEnd &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::yield();
    }
    ASSERT_GE(sink->indicated.load(), kEventsBeforeTheEnd) << "the storm never arrived";
  }

  InProcessServer host{
      velt::host::HostOptions{true, {VELT_TEST_GLUE_JAR, VELT_TEST_STORM_JAR}, {}}};
  IWbemServices* anchor = nullptr;
  std::vector<TrackedSink*> sinks;
};

TEST_F(EventStorm, NoEventReachesASinkAfterItsReleaseAndEachIsReleasedOnce) {
  ASSERT_NE(anchor, nullptr);
  rounds([&](IWbemEventProvider* events) { awaitEvents(provide(events)); });
  rounds([&](IWbemEventProvider* events) {
    TrackedSink* first = provide(events);
    awaitEvents(first);
    awaitEvents(provide(events));
    EXPECT_EQ(first->references.load(), 0) << "the replaced sink is still held";
  });
  rounds([&](IWbemEventProvider* events) {
    TrackedSink* racing[2] = {TrackedSink::create(), TrackedSink::create()};
    std::vector<std::thread> threads;
    for (TrackedSink* sink : racing) {
      sinks.push_back(sink);
      threads.emplace_back([events, sink] {
        EXPECT_EQ(events->ProvideEvents(sink, 0), WBEM_S_NO_ERROR);
        sink->Release();
      });
    }
    for (std::thread& thread : threads) thread.join();
  });
}

}  // namespace
