// The real provider's enumeration: 1 000 items through the stand-in, the real Glue and SDK and a
// provider that makes each with its context, served by the provider's server in a process of
// its own and by the same server in the client's process. Each side needs a process of its own
// (the in-process one runs the server's entry in place of every launch), so each is a child run.
#include <benchmark/benchmark.h>

#include <oleauto.h>
#include <owners/unique_handle.h>
#include <stdlib.h>

#include <chrono>
#include <string>

#include "../bench_world.h"

namespace velt::bench {

namespace {

constexpr int kItems = 1000;
// Enumerations before the timed ones, so that the VM's compilers have seen the Glue's and the
// provider's code; then the timed ones.
constexpr int kWarmUpEnumerations = 30;
constexpr int kTimedEnumerations = 20;

// Wall time per item, in microseconds, of enumerations of every item; -1 when one failed.
double wallMicrosecondsPerItem(IWbemServices* services) {
  velt::UniqueBstr className(SysAllocString(velt::host::InProcessServer::kItemClass));
  auto* sink = new velt::host::CountingSink();
  auto enumerate = [&] {
    sink->reset();
    return SUCCEEDED(services->CreateInstanceEnumAsync(className.get(), 0, nullptr, sink)) &&
           sink->waitForCompletions(1, std::chrono::minutes(2)) &&
           sink->lastStatus() == WBEM_S_NO_ERROR && sink->indicated() == kItems;
  };
  double result = -1;
  bool delivered = true;
  for (int i = 0; i < kWarmUpEnumerations && delivered; ++i) delivered = enumerate();
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kTimedEnumerations && delivered; ++i) delivered = enumerate();
  std::chrono::duration<double, std::micro> spent = std::chrono::steady_clock::now() - start;
  if (delivered) result = spent.count() / (kTimedEnumerations * kItems);
  sink->Release();
  return result;
}

void BM_Paired_RealGlueEnumerationAcrossProcesses(benchmark::State& state) {
  double across = 0, inProcess = 0;
  for (auto _ : state) {
    double acrossUs = runChild("real-glue-enumeration-own-process");
    double inProcessUs = runChild("real-glue-enumeration-in-process");
    if (acrossUs < 0 || inProcessUs < 0) {
      state.SkipWithError("an enumeration failed");
      break;
    }
    across += acrossUs;
    inProcess += inProcessUs;
  }
  state.counters["per_element_us"] = across / static_cast<double>(state.iterations());
  state.counters["floor_us"] = inProcess / static_cast<double>(state.iterations());
  state.counters["ratio"] = inProcess > 0 ? across / inProcess : 0;
}
BENCHMARK(BM_Paired_RealGlueEnumerationAcrossProcesses)->Iterations(3)->Unit(benchmark::kSecond);

}  // namespace

double realGlueEnumerationMicroseconds(bool ownProcess) {
  setenv("VELT_ITEM_COUNT", std::to_string(kItems).c_str(), 1);
  velt::host::HostOptions options;
  options.javaJars = {VELT_BENCH_GLUE_JAR, VELT_BENCH_ITEM_PROVIDER_JAR};
  if (ownProcess) options.serverExecutable = VELT_BENCH_SERVER;
  velt::host::InProcessServer host(options);
  return wallMicrosecondsPerItem(host.services());
}

}  // namespace velt::bench
