// A get through the real Glue and SDK with a trivial provider, beside the cheap Glue's get in
// the same run. The two Glues share a class name, so the real one runs in a child process of
// its own; the parent times the cheap Glue's get right after, over the same count.
#include <benchmark/benchmark.h>

#include <oleauto.h>
#include <owners/unique_handle.h>

#include <thread>

#include "../bench_world.h"

namespace velt::bench {

namespace {

constexpr int kGets = 5000;
// Gets before the timed ones: a fresh VM interprets the Glue's code until its compilers have
// seen it, which takes some thousands of calls; fewer leave the first figure at twice the rest.
constexpr int kWarmUpGets = 20000;

// CPU time per get, in microseconds, of `count` gets of Bench_Item.Name="a" after a warm-up.
double cpuMicrosecondsPerGet(IWbemServices* services, int count, int warmUp) {
  velt::UniqueBstr path(SysAllocString(u"Bench_Item.Name=\"a\""));
  auto* sink = new velt::host::CountingSink();
  double result = -1;
  bool failed = false;
  for (int i = 0; i < warmUp && !failed; ++i) {
    failed = FAILED(services->GetObjectAsync(path.get(), 0, nullptr, sink));
  }
  double start = threadCpuSeconds();
  for (int i = 0; i < count && !failed; ++i) {
    failed = FAILED(services->GetObjectAsync(path.get(), 0, nullptr, sink)) ||
             FAILED(sink->lastStatus());
  }
  if (!failed) result = (threadCpuSeconds() - start) / count * 1e6;
  sink->Release();
  return result;
}

void BM_Paired_RealGlueGetObject(benchmark::State& state) {
  World& world = World::get();
  double real = 0, cheap = 0;
  for (auto _ : state) {
    double realUs = runChild("real-glue-get");
    double cheapUs = cpuMicrosecondsPerGet(world.services(), kGets, kWarmUpGets);
    if (realUs < 0 || cheapUs < 0) {
      state.SkipWithError("a get failed");
      break;
    }
    real += realUs;
    cheap += cheapUs;
  }
  state.counters["request_us"] = real / static_cast<double>(state.iterations());
  state.counters["floor_us"] = cheap / static_cast<double>(state.iterations());
  state.counters["ratio"] = cheap > 0 ? real / cheap : 0;
}
BENCHMARK(BM_Paired_RealGlueGetObject)->Iterations(3)->Unit(benchmark::kMillisecond);

// The cheap Glue's get, each on a thread made for it, as a client that starts a thread per
// request does: wall time, since the thread's start and end are the cost in question.
void BM_GetObjectOnNewThread(benchmark::State& state) {
  World& world = World::get();
  auto* sink = new velt::host::CountingSink();
  for (auto _ : state) {
    HRESULT hr = E_FAIL;
    std::thread caller(
        [&] { hr = world.services()->GetObjectAsync(world.itemPath(), 0, nullptr, sink); });
    caller.join();
    if (FAILED(hr)) {
      state.SkipWithError("a get failed");
      break;
    }
  }
  sink->Release();
}
BENCHMARK(BM_GetObjectOnNewThread)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

double realGlueGetMicroseconds() {
  velt::host::HostOptions options;
  options.javaJars = {VELT_BENCH_GLUE_JAR, VELT_BENCH_ITEM_PROVIDER_JAR};
  velt::host::InProcessServer host(options);
  return cpuMicrosecondsPerGet(host.services(), kGets, kWarmUpGets);
}

}  // namespace velt::bench
