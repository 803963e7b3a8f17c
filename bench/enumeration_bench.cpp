// Enumeration per element, against reading the same vector in JNI; and the peak memory of a
// process that enumerates 10 000 against 1 000 000 elements, each size in a fresh process.
#include <benchmark/benchmark.h>

#include <string>

#include "bench_world.h"

namespace velt::bench {

// One enumeration of `count` elements; true when every element arrived and it succeeded.
bool enumerateOnce(World& world, velt::host::CountingSink* sink, long count) {
  sink->reset();
  HRESULT hr = world.services()->CreateInstanceEnumAsync(world.itemClass(), 0, nullptr, sink);
  return SUCCEEDED(hr) && sink->lastStatus() == WBEM_S_NO_ERROR && sink->indicated() == count;
}

namespace {

void BM_Enumerate(benchmark::State& state) {
  World& world = World::get();
  auto count = static_cast<int>(state.range(0));
  world.java().setEnumerationSize(count);
  auto* sink = new velt::host::CountingSink();
  enumerateOnce(world, sink, count);  // builds the Glue's vector once
  for (auto _ : state) {
    if (!enumerateOnce(world, sink, count)) {
      state.SkipWithError("the enumeration did not deliver every element");
      break;
    }
  }
  sink->Release();
  state.counters["per_element"] =
      benchmark::Counter(static_cast<double>(count), benchmark::Counter::kIsIterationInvariantRate |
                                                         benchmark::Counter::kInvert);
}
BENCHMARK(BM_Enumerate)->Arg(1)->Arg(100)->Arg(10000)->Arg(1000000);

// Each iteration reads the vector both floor ways and then enumerates the same count through
// the provider, so all three meet the same moment of a shared machine; the counters give the
// per-element CPU time of each and the provider's ratios to both floors.
void BM_Paired_Enumerate(benchmark::State& state) {
  World& world = World::get();
  auto count = static_cast<int>(state.range(0));
  world.java().setEnumerationSize(count);
  auto* sink = new velt::host::CountingSink();
  enumerateOnce(world, sink, count);
  readVectorFloor(world.vm(), world.floorClass(), count);
  double floor = 0, bareFloor = 0, provider = 0;
  for (auto _ : state) {
    double start = threadCpuSeconds();
    readVectorFloor(world.vm(), world.floorClass(), count, VectorRead::kPerElementLookUp);
    double afterFloor = threadCpuSeconds();
    readVectorFloor(world.vm(), world.floorClass(), count, VectorRead::kLookUpOnce);
    double afterBareFloor = threadCpuSeconds();
    bool delivered = enumerateOnce(world, sink, count);
    double end = threadCpuSeconds();
    if (!delivered) {
      state.SkipWithError("the enumeration did not deliver every element");
      break;
    }
    floor += afterFloor - start;
    bareFloor += afterBareFloor - afterFloor;
    provider += end - afterBareFloor;
  }
  sink->Release();
  double elements = static_cast<double>(state.iterations()) * count;
  state.counters["provider_ns"] = provider / elements * 1e9;
  state.counters["floor_ns"] = floor / elements * 1e9;
  state.counters["bare_floor_ns"] = bareFloor / elements * 1e9;
  state.counters["ratio"] = floor > 0 ? provider / floor : 0;
  state.counters["bare_ratio"] = bareFloor > 0 ? provider / bareFloor : 0;
}
BENCHMARK(BM_Paired_Enumerate)->Arg(1)->Arg(100)->Arg(10000)->Arg(1000000);

// Peak resident memory of fresh processes that each enumerate once, for the provider and
// for the JNI floor; the growth from 10 000 to 1 000 000 elements must stay flat.
void BM_EnumerationPeakMemory(benchmark::State& state) {
  double providerSmall = 0, providerLarge = 0, floorSmall = 0, floorLarge = 0;
  for (auto _ : state) {
    providerSmall = runChild("enumerate:10000");
    providerLarge = runChild("enumerate:1000000");
    floorSmall = runChild("read-vector:10000");
    floorLarge = runChild("read-vector:1000000");
  }
  constexpr double kMiB = 1024.0;
  state.counters["provider_10k_MiB"] = providerSmall / kMiB;
  state.counters["provider_1M_MiB"] = providerLarge / kMiB;
  state.counters["provider_growth_MiB"] = (providerLarge - providerSmall) / kMiB;
  state.counters["floor_10k_MiB"] = floorSmall / kMiB;
  state.counters["floor_1M_MiB"] = floorLarge / kMiB;
  state.counters["floor_growth_MiB"] = (floorLarge - floorSmall) / kMiB;
}
BENCHMARK(BM_EnumerationPeakMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

// Child modes "enumerate:<n>" and "read-vector:<n>": one enumeration, then the peak.
double peakAfterEnumeration(long count) {
  World& world = World::get();
  world.java().setEnumerationSize(static_cast<int>(count));
  auto* sink = new velt::host::CountingSink();
  bool delivered = enumerateOnce(world, sink, count);
  sink->Release();
  return delivered ? static_cast<double>(peakResidentKiB()) : -1;
}

double peakAfterReadingVector(long count) {
  World& world = World::get();
  readVectorFloor(world.vm(), world.floorClass(), static_cast<jint>(count));
  return static_cast<double>(peakResidentKiB());
}

}  // namespace velt::bench
