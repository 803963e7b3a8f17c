// The provider's benchmarks and their floors. "--velt-child=<mode>" runs one measurement that
// needs a fresh process (see child_runs.cpp) instead of the benchmarks.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "bench_world.h"

int main(int argc, char** argv) {
  constexpr char kChild[] = "--velt-child=";
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], kChild, sizeof kChild - 1) == 0) {
      return velt::bench::childMain(argv[i] + sizeof kChild - 1);
    }
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  velt::bench::World::end();
  benchmark::Shutdown();
  return 0;
}
