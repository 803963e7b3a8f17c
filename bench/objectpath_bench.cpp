// Parsing typical object paths: a class alone, a full path with two keys, and long key lists.
#include <benchmark/benchmark.h>
#include <owners/unique_handle.h>

#include <string>

#include "objectpath/conversion.h"
#include "objectpath/object_path.h"

namespace {

void parse(benchmark::State& state, const std::string& text) {
  for (auto _ : state) {
    WbemObjectPath path(text);
    benchmark::DoNotOptimize(path);
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

void BM_ParseClassOnly(benchmark::State& state) { parse(state, "Win32_LogicalDisk"); }

void BM_ParseTwoKeys(benchmark::State& state) {
  parse(state, "\\\\srv\\root\\cimv2:Win32_LogicalDisk.DeviceID=\"C:\",SystemName=\"SRV01\"");
}

void BM_ParseDoubledBackslashes(benchmark::State& state) {
  parse(state,
        "\\\\\\\\srv\\\\root\\\\cimv2:Win32_Directory.Name=\"C:\\\\Program Files\\\\Norvex\"");
}

// A key list of state.range(0) quoted entries.
void BM_ParseKeyList(benchmark::State& state) {
  std::string text = "\\\\srv\\root\\cimv2:Thing.";
  for (int64_t i = 0; i < state.range(0); ++i) {
    if (i != 0) text += ',';
    text += "Key" + std::to_string(i) + "=\"value, number " + std::to_string(i) + "\"";
  }
  parse(state, text);
}

void BM_PathTextFromBstr(benchmark::State& state) {
  velt::UniqueBstr path(
      SysAllocString(OLESTR("\\\\srv\\root\\cimv2:Win32_LogicalDisk.DeviceID=\"C:\"")));
  for (auto _ : state) {
    WbemObjectPath parsed(toUtf8(wideFromBstr(path.get())));
    benchmark::DoNotOptimize(parsed);
  }
  state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(BM_ParseClassOnly);
BENCHMARK(BM_ParseTwoKeys);
BENCHMARK(BM_ParseDoubledBackslashes);
BENCHMARK(BM_ParseKeyList)->Arg(1)->Arg(8)->Arg(64)->Arg(512);
BENCHMARK(BM_PathTextFromBstr);
