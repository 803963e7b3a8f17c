// CheckForEvents per event: a Java loop firing into the provider's native, which hands each
// event to the stand-in's event sink and so to the subscriber.
#include <benchmark/benchmark.h>

#include "bench_world.h"

namespace velt::bench {
namespace {

void BM_CheckForEvents(benchmark::State& state) {
  constexpr int kEvents = 10000;
  World& world = World::get();
  AttachedThread thread(world.vm());  // the firing thread stays attached, as Java's own do
  for (auto _ : state) world.java().fire(kEvents);
  state.counters["per_event"] = benchmark::Counter(
      kEvents, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_CheckForEvents);

}  // namespace
}  // namespace velt::bench
