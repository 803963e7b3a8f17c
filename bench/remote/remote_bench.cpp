// What crossing into the provider's own process costs, and what a query filtered by the service
// costs over the enumeration it filters: a get-object and an enumeration served
// by the gadget provider in this process and in a server process of its own, each paired with
// its floor in the same iteration (the in-process figure, and a bare round trip of the same
// sizes on the same kind of socket), and the peak memory of both processes during a long
// enumeration and a long query. "--velt-child=peak:<count>", "--velt-child=querypeak:<count>"
// and "--velt-echo=<fd>" run the pieces that need a process of their own.
#include <benchmark/benchmark.h>
#include <capnp/message.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>
#include <winplatform/posix_hooks.h>
#include <winplatform/registry_hooks.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>

#include <owners/com_ptr.h>
#include <owners/owned_variant.h>
#include <owners/utf_text.h>

#include "echo_floor.h"
#include "gadget_provider.h"
#include "host/counting_sink.h"
#include "remote/object_codec.h"
#include "temp_dir.h"
#include "wmi/service.h"
#include "wmi_model/objects.h"

namespace velt::bench {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
constexpr auto kWait = std::chrono::seconds(120);

double microsecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

// What `sink` counted, once its request's final status came and was a success.
long indicatedOnSuccess(host::CountingSink& sink) {
  if (!sink.waitForCompletions(1, kWait)) throw std::runtime_error("no final status");
  if (FAILED(sink.lastStatus())) throw std::runtime_error("request failed");
  return sink.indicated();
}

// One namespace served by the gadget provider, activated through COM.
class GadgetNamespace {
 public:
  GadgetNamespace() {
    m_service.loadMofText(veltwmi::test::kGadgetMof, "gadgets.mof");
    if (FAILED(m_service.openNamespace(u"root\\test", m_ns.put()))) {
      throw std::runtime_error("no namespace");
    }
  }
  ~GadgetNamespace() {
    m_ns = {};
    m_service.shutdown();
  }
  void get() {
    ComPtr<host::CountingSink> sink(new host::CountingSink);
    if (FAILED(m_ns->GetObjectAsync(m_path.get(), 0, nullptr, sink.get())) ||
        indicatedOnSuccess(*sink) != 1) {
      throw std::runtime_error("get failed");
    }
  }
  void enumerate(long count, bool fetchEach = false) {
    ComPtr<IWbemContext> context = countContext(count);
    if (fetchEach) {
      OwnedVariant each;
      each.get()->vt = VT_BOOL;
      each.get()->boolVal = VARIANT_TRUE;
      context->SetValue(u"GadgetFetchEach", 0, each.get());
    }
    ComPtr<host::CountingSink> sink(new host::CountingSink);
    if (FAILED(m_ns->CreateInstanceEnumAsync(m_className.get(), 0, context.get(), sink.get())) ||
        indicatedOnSuccess(*sink) != count) {
      throw std::runtime_error("enumeration failed");
    }
  }
  // Delivered objects of `wql` over `count` made-up gadgets.
  long query(const char16_t* wql, long count) {
    ComPtr<IWbemContext> context = countContext(count);
    ComPtr<host::CountingSink> sink(new host::CountingSink);
    if (FAILED(m_ns->ExecQueryAsync(m_language.get(), bstrFromUtf16(wql).get(), 0, context.get(),
                                    sink.get()))) {
      throw std::runtime_error("query failed");
    }
    return indicatedOnSuccess(*sink);
  }
  // The encoded size of the object a get answers, and of the path it asks for.
  std::pair<size_t, size_t> messageSizes() {
    ComPtr<IWbemClassObject> object;
    m_ns->GetObject(m_path.get(), 0, nullptr, object.put(), nullptr);
    if (!object) throw std::runtime_error("sync get failed");
    capnp::MallocMessageBuilder message;
    wmi::remote::writeObject(object.get(), message.initRoot<wmi::rpc::WbemObject>());
    return {SysStringByteLen(m_path.get()), message.sizeInWords() * sizeof(capnp::word)};
  }

 private:
  static ComPtr<IWbemContext> countContext(long count) {
    return veltwmi::test::gadgetContext(u"GadgetCount", static_cast<LONG>(count));
  }

  wmi::Service m_service;
  ComPtr<IWbemServices> m_ns;
  UniqueBstr m_path = bstrFromUtf16(u"Gadget.Name=\"g1\"");
  UniqueBstr m_className = bstrFromUtf16(u"Gadget");
  UniqueBstr m_language = bstrFromUtf16(u"WQL");
};

// A private installation of the gadget server: its own registry, runtime folder and copy.
class Installation {
 public:
  Installation() {
    fs::create_directories(m_folder.path() / "run");
    fs::permissions(m_folder.path() / "run", fs::perms::owner_all);
    setenv("XDG_RUNTIME_DIR", (m_folder / "run").c_str(), 1);
    setenv("VELT_REGISTRY", (m_folder / "registry.db").c_str(), 1);
    VeltRegistryReset();
    fs::copy_file(VELT_BENCH_GADGET_SERVER, m_server);
    fs::copy_file(fs::path(VELT_BENCH_GADGET_SERVER).parent_path() / "libvelt_platform.so",
                  m_folder / "libvelt_platform.so");
    UniqueRegistryKey key;
    RegCreateKeyExA(HKEY_CLASSES_ROOT,
                    "CLSID\\{3C2B7A10-5E4F-4D21-8B6A-910E2D447FC3}\\LocalServer32", 0, nullptr, 0,
                    KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
    RegSetValueExA(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(m_server.c_str()),
                   static_cast<DWORD>(m_server.size() + 1));
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  }
  const std::string& server() const { return m_server; }

 private:
  TempDir m_folder;
  std::string m_server = m_folder / "server";
};

// Peak resident memory (KiB) of process `pid` ("self" for this one).
long peakKiB(const std::string& pid) {
  std::ifstream status("/proc/" + pid + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

// CPU time (ns) that every thread of process `pid` ("self" for this one) has run so far.
double cpuNanoseconds(const std::string& pid) {
  double total = 0;
  std::error_code error;
  for (const auto& task : fs::directory_iterator("/proc/" + pid + "/task", error)) {
    std::ifstream schedstat(task.path() / "schedstat");
    double ran = 0;
    if (schedstat >> ran) total += ran;
  }
  return total;
}

std::string pidOf(const std::string& program) {
  for (const auto& entry : fs::directory_iterator("/proc")) {
    std::error_code error;
    if (fs::read_symlink(entry.path() / "exe", error) == program && !error) {
      return entry.path().filename().string();
    }
  }
  return "";
}

// Everything the paired benchmarks share, made on first use: the server process, the
// in-process provider and the answering process.
struct World {
  static World& get() {
    static World* world = new World;  // the processes it started end with this one
    return *world;
  }
  Installation installation;
  GadgetNamespace remote;
  std::unique_ptr<GadgetNamespace> local;
  EchoFloor echo;
  std::pair<size_t, size_t> sizes;
  std::string serverPid;

 private:
  World() {
    // The remote provider activates first: once the in-process server registers the class,
    // activations in this process find it there.
    remote.get();
    veltwmi::test::resetGadgets();
    VeltSetLocalServerEntry(veltwmi::test::gadgetProviderMain, nullptr, nullptr);
    local = std::make_unique<GadgetNamespace>();
    local->get();
    sizes = remote.messageSizes();
    serverPid = pidOf(installation.server());
  }
};

void BM_Remote_PairedGetObject(benchmark::State& state) {
  World& world = World::get();
  double local = 0, remote = 0, trip = 0;
  for (auto _ : state) {
    auto start = Clock::now();
    world.local->get();
    local += microsecondsSince(start);
    start = Clock::now();
    world.remote.get();
    const double once = microsecondsSince(start);
    remote += once;
    start = Clock::now();
    world.echo.call(world.sizes.first, world.sizes.second);
    trip += microsecondsSince(start);
    state.SetIterationTime(once / 1e6);
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["in_process_us"] = local / n;
  state.counters["remote_us"] = remote / n;
  state.counters["round_trip_us"] = trip / n;
  state.counters["bound_us"] = (local + 2 * trip) / n;
  state.counters["ratio_to_bound"] = remote / (local + 2 * trip);
  state.counters["reply_bytes"] = static_cast<double>(world.sizes.second);
}
BENCHMARK(BM_Remote_PairedGetObject)->UseManualTime()->Unit(benchmark::kMicrosecond);

void pairedEnumeration(benchmark::State& state, bool fetchEach) {
  World& world = World::get();
  const long count = state.range(0);
  double local = 0, remote = 0, clientCpu = 0, serverCpu = 0;
  for (auto _ : state) {
    auto start = Clock::now();
    world.local->enumerate(count, fetchEach);
    local += microsecondsSince(start);
    const double clientBefore = cpuNanoseconds("self");
    const double serverBefore = cpuNanoseconds(world.serverPid);
    start = Clock::now();
    world.remote.enumerate(count, fetchEach);
    const double once = microsecondsSince(start);
    remote += once;
    clientCpu += cpuNanoseconds("self") - clientBefore;
    serverCpu += cpuNanoseconds(world.serverPid) - serverBefore;
    state.SetIterationTime(once / 1e6);
  }
  const double elements = static_cast<double>(state.iterations()) * static_cast<double>(count);
  // Where the time went: the CPU both processes spent on the enumeration across processes.
  state.counters["client_cpu_us_per_element"] = clientCpu / 1e3 / elements;
  state.counters["server_cpu_us_per_element"] = serverCpu / 1e3 / elements;
  state.counters["in_process_us_per_element"] = local / elements;
  state.counters["remote_us_per_element"] = remote / elements;
  state.counters["ratio"] = remote / local;
}
void BM_Remote_PairedEnumeration(benchmark::State& state) { pairedEnumeration(state, false); }
BENCHMARK(BM_Remote_PairedEnumeration)->Arg(10000)->UseManualTime()->Unit(benchmark::kMillisecond);

// The provider asks for its class before each instance, as one spawning through the SDK does:
// across processes each ask is a call back into the client, and each answer a class of its own.
void BM_Remote_PairedEnumerationFetchingEachClass(benchmark::State& state) {
  pairedEnumeration(state, true);
}
BENCHMARK(BM_Remote_PairedEnumerationFetchingEachClass)
    ->Arg(1000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// A query the service answers by filtering and projecting: about one instance in nine passes.
constexpr char16_t kProjection[] = u"SELECT Name FROM Gadget WHERE Name LIKE 'n1%' OR Size < 100";

// A data query the service answers by enumerating the class and filtering, per instance
// against the plain enumeration of the same instances, in this process.
void BM_Query_PairedFilteredEnumeration(benchmark::State& state) {
  World& world = World::get();
  const long count = state.range(0);
  double plain = 0, all = 0, some = 0;
  long selected = 0;
  for (auto _ : state) {
    auto start = Clock::now();
    world.local->enumerate(count);
    plain += microsecondsSince(start);
    start = Clock::now();
    if (world.local->query(u"SELECT * FROM Gadget WHERE Size >= 0", count) != count) {
      throw std::runtime_error("the query lost instances");
    }
    const double once = microsecondsSince(start);
    all += once;
    start = Clock::now();
    selected = world.local->query(kProjection, count);
    some += microsecondsSince(start);
    state.SetIterationTime(once / 1e6);
  }
  const double instances = static_cast<double>(state.iterations()) * static_cast<double>(count);
  state.counters["enumeration_us_per_instance"] = plain / instances;
  state.counters["query_all_us_per_instance"] = all / instances;
  state.counters["query_all_ratio"] = all / plain;
  state.counters["query_projection_us_per_instance"] = some / instances;
  state.counters["query_projection_ratio"] = some / plain;
  state.counters["projection_selected"] = static_cast<double>(selected);
}
BENCHMARK(BM_Query_PairedFilteredEnumeration)
    ->Arg(100000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

constexpr char kChild[] = "--velt-child=peak:";
constexpr char kQueryChild[] = "--velt-child=querypeak:";
constexpr char kEcho[] = "--velt-echo=";
constexpr char kMark[] = "velt-child-result ";

// Peak memory of a fresh client and of its fresh server after one enumeration of `count`, or
// one query with a projection that the service (in the client) answers by filtering it.
int peakChild(long count, bool query) {
  Installation installation;
  long serverPeak = -1;
  {
    GadgetNamespace remote;
    if (query) {
      remote.query(kProjection, count);
    } else {
      remote.enumerate(count);
    }
    serverPeak = peakKiB(pidOf(installation.server()));
  }
  printf("%s%ld %ld\n", kMark, peakKiB("self"), serverPeak);
  return 0;
}

void peakMemory(benchmark::State& state, const char* child) {
  char self[4096];
  ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  if (length <= 0) throw std::runtime_error("no executable");
  const std::string command =
      "'" + std::string(self, size_t(length)) + "' " + child + std::to_string(state.range(0));
  long client = -1, server = -1;
  for (auto _ : state) {
    FILE* output = popen(command.c_str(), "r");
    char line[256];
    while (output != nullptr && fgets(line, sizeof line, output) != nullptr) {
      if (std::strncmp(line, kMark, sizeof kMark - 1) == 0) {
        sscanf(line + sizeof kMark - 1, "%ld %ld", &client, &server);
      }
    }
    if (output != nullptr) pclose(output);
  }
  state.counters["client_peak_kib"] = static_cast<double>(client);
  state.counters["server_peak_kib"] = static_cast<double>(server);
}

void BM_Remote_EnumerationPeakMemory(benchmark::State& state) { peakMemory(state, kChild); }
BENCHMARK(BM_Remote_EnumerationPeakMemory)
    ->Arg(10000)
    ->Arg(100000)
    ->Arg(1000000)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

// The same for a query with a projection over instances from the provider's own process: the
// service, in the client, filters them as they come.
void BM_Query_RemotePeakMemory(benchmark::State& state) { peakMemory(state, kQueryChild); }
BENCHMARK(BM_Query_RemotePeakMemory)
    ->Arg(10000)
    ->Arg(100000)
    ->Arg(1000000)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

}  // namespace
}  // namespace velt::bench

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], velt::bench::kEcho, sizeof velt::bench::kEcho - 1) == 0) {
      return velt::bench::echoChildMain(std::atoi(argv[i] + sizeof velt::bench::kEcho - 1));
    }
    if (std::strncmp(argv[i], velt::bench::kChild, sizeof velt::bench::kChild - 1) == 0) {
      return velt::bench::peakChild(std::atol(argv[i] + sizeof velt::bench::kChild - 1), false);
    }
    if (std::strncmp(argv[i], velt::bench::kQueryChild, sizeof velt::bench::kQueryChild - 1) == 0) {
      return velt::bench::peakChild(std::atol(argv[i] + sizeof velt::bench::kQueryChild - 1), true);
    }
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  _exit(0);  // the shared world and its processes end with this process
}
