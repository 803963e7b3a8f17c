// One request of each served kind, from WMI's side: through the stand-in's namespace, routed to
// the provider object COM activated, into the cheap Glue and back to the client's sink.
#include <benchmark/benchmark.h>

#include <string>

#include <wmi_model/recording_sink.h>

#include "bench_world.h"

namespace velt::bench {
namespace {

using velt::host::CountingSink;

// Runs one request per iteration and checks that it delivered one object and succeeded.
template <class Request>
void runRequests(benchmark::State& state, Request request) {
  auto* sink = new CountingSink();
  for (auto _ : state) {
    HRESULT hr = request(sink);
    if (FAILED(hr) || FAILED(sink->lastStatus())) {
      state.SkipWithError(
          ("request failed: " + std::to_string(hr) + " / " + std::to_string(sink->lastStatus()))
              .c_str());
      break;
    }
  }
  if (sink->indicated() != sink->completions()) {
    state.SkipWithError("a request did not deliver exactly one object");
  }
  sink->Release();
}

// Each iteration runs the attach-call-detach floor and then the request, so both meet the same
// moment of a shared machine; the counters give the CPU time of each and their ratio.
template <class Request>
void runPaired(benchmark::State& state, Request request) {
  World& world = World::get();
  auto* sink = new CountingSink();
  double floor = 0, served = 0;
  for (auto _ : state) {
    double start = threadCpuSeconds();
    attachCallDetachFloor(world);
    double between = threadCpuSeconds();
    HRESULT hr = request(sink);
    double end = threadCpuSeconds();
    if (FAILED(hr) || FAILED(sink->lastStatus())) {
      state.SkipWithError("request failed");
      break;
    }
    floor += between - start;
    served += end - between;
  }
  sink->Release();
  auto iterations = static_cast<double>(state.iterations());
  state.counters["request_us"] = served / iterations * 1e6;
  state.counters["floor_us"] = floor / iterations * 1e6;
  state.counters["ratio"] = floor > 0 ? served / floor : 0;
}

// The requests timed, alone and paired with their floor, each on the world's item.
using Request = HRESULT (*)(World&, IWbemObjectSink*);
HRESULT getObject(World& world, IWbemObjectSink* sink) {
  return world.services()->GetObjectAsync(world.itemPath(), 0, nullptr, sink);
}
HRESULT putInstance(World& world, IWbemObjectSink* sink) {
  return world.services()->PutInstanceAsync(world.item(), 0, nullptr, sink);
}
HRESULT execMethod(World& world, IWbemObjectSink* sink) {
  return world.services()->ExecMethodAsync(world.itemPath(), world.methodName(), 0, nullptr,
                                           world.inParameters(), sink);
}

void BM_Alone(benchmark::State& state, Request request) {
  World& world = World::get();
  runRequests(state, [&](IWbemObjectSink* sink) { return request(world, sink); });
}
void BM_Paired(benchmark::State& state, Request request) {
  World& world = World::get();
  runPaired(state, [&](IWbemObjectSink* sink) { return request(world, sink); });
}

BENCHMARK_CAPTURE(BM_Alone, GetObject, getObject)->Name("BM_GetObject");
// Requests from several threads at once on the one provider object.
BENCHMARK_CAPTURE(BM_Alone, GetObject, getObject)
    ->Name("Concurrent/BM_GetObject")
    ->Threads(1)
    ->Threads(2)
    ->Threads(4)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Alone, PutInstance, putInstance)->Name("BM_PutInstance");
BENCHMARK_CAPTURE(BM_Alone, ExecMethod, execMethod)->Name("BM_ExecMethod");

// A provider object of its own (COM activation, Initialize on the namespace) and its event
// interface; both released when it goes.
class EventProviderObject {
 public:
  explicit EventProviderObject(World& world) : m_provider(world.host().newProviderObject()) {
    if (m_provider != nullptr) {
      m_provider->QueryInterface(IID_IWbemEventProvider, reinterpret_cast<void**>(&m_events));
    }
  }
  ~EventProviderObject() {
    if (m_events != nullptr) m_events->Release();
    if (m_provider != nullptr) m_provider->Release();
  }
  EventProviderObject(const EventProviderObject&) = delete;
  EventProviderObject& operator=(const EventProviderObject&) = delete;
  IWbemEventProvider* events() const { return m_events; }

 private:
  IWbemServices* m_provider;
  IWbemEventProvider* m_events = nullptr;
};

// ProvideEvents on a provider object of its own (COM activation, Initialize on the namespace):
// the stand-in calls it only once per provider, so the benchmark calls it directly.
void BM_ProvideEvents(benchmark::State& state) {
  World& world = World::get();
  EventProviderObject object(world);
  IWbemEventProvider* events = object.events();
  if (events == nullptr) {
    state.SkipWithError("no provider object");
    return;
  }
  // The sink must be one Java can name: the stand-in's own objects are.
  velt::wmi::RecordingSink* sink = velt::wmi::RecordingSink::create();
  for (auto _ : state) {
    HRESULT hr = events->ProvideEvents(sink, 0);
    if (FAILED(hr)) {
      state.SkipWithError(("ProvideEvents failed: " + std::to_string(hr)).c_str());
      break;
    }
  }
  sink->Release();
}
BENCHMARK(BM_ProvideEvents);

void BM_Paired_ProvideEvents(benchmark::State& state) {
  World& world = World::get();
  EventProviderObject object(world);
  IWbemEventProvider* events = object.events();
  if (events == nullptr) {
    state.SkipWithError("no provider object");
    return;
  }
  velt::wmi::RecordingSink* sink = velt::wmi::RecordingSink::create();
  double floor = 0, served = 0;
  for (auto _ : state) {
    double start = threadCpuSeconds();
    attachCallDetachFloor(world);
    double between = threadCpuSeconds();
    HRESULT hr = events->ProvideEvents(sink, 0);
    double end = threadCpuSeconds();
    if (FAILED(hr)) {
      state.SkipWithError("ProvideEvents failed");
      break;
    }
    floor += between - start;
    served += end - between;
  }
  sink->Release();
  auto iterations = static_cast<double>(state.iterations());
  state.counters["request_us"] = served / iterations * 1e6;
  state.counters["floor_us"] = floor / iterations * 1e6;
  state.counters["ratio"] = floor > 0 ? served / floor : 0;
}
BENCHMARK(BM_Paired_ProvideEvents);

BENCHMARK_CAPTURE(BM_Paired, GetObject, getObject)->Name("BM_Paired_GetObject");
BENCHMARK_CAPTURE(BM_Paired, PutInstance, putInstance)->Name("BM_Paired_PutInstance");
BENCHMARK_CAPTURE(BM_Paired, ExecMethod, execMethod)->Name("BM_Paired_ExecMethod");

}  // namespace
}  // namespace velt::bench
