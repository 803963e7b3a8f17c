// Activating the provider's server when none runs: CoCreateInstance with CLSCTX_LOCAL_SERVER
// (COM starts the registered server, which publishes its class) up to the provider's
// Initialize having answered (the Java VM started in the server), against its floor in the same
// run: a program of the server's kind, in the server's folder, started as a process and
// starting the VM through the same runtime services. Each iteration times one of each, the
// server having ended before the next; the figures are medians over the iterations.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <objbase.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <wbemprov.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <owners/com_ptr.h>

#include "installation.h"
#include "wmi/service.h"

extern char** environ;

namespace velt::bench {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr CLSID kProviderClass = {
    0x6D0F4A2E, 0x93B7, 0x4C51, {0xA8, 0xE2, 0x5F, 0x19, 0xC3, 0xD7, 0xB0, 0x6A}};
constexpr char kMof[] = R"MOF(
#pragma namespace("\\\\.\\root\\bench")
class Bench_Item { [key] string Name; sint32 Size; };
)MOF";
constexpr auto kWait = std::chrono::seconds(120);

double millisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

class InitSink final : public IWbemProviderInitSink {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (iid != IID_IUnknown && iid != IID_IWbemProviderInitSink) {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    *out = static_cast<IWbemProviderInitSink*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++m_references; }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG left = --m_references;
    if (left == 0) delete this;
    return left;
  }
  STDMETHODIMP SetStatus(LONG status, LONG) override {
    std::lock_guard lock(m_mutex);
    if (!m_status) m_status = status;
    m_reported.notify_all();
    return WBEM_S_NO_ERROR;
  }
  std::optional<LONG> wait() {
    std::unique_lock lock(m_mutex);
    m_reported.wait_for(lock, kWait, [this] { return m_status.has_value(); });
    return m_status;
  }

 private:
  std::atomic<ULONG> m_references{1};
  std::mutex m_mutex;
  std::condition_variable m_reported;
  std::optional<LONG> m_status;
};

std::vector<pid_t> processesOf(const std::string& program) {
  std::vector<pid_t> found;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    std::error_code error;
    if (fs::read_symlink(entry.path() / "exe", error) == program && !error) {
      found.push_back(static_cast<pid_t>(std::stol(entry.path().filename().string())));
    }
  }
  return found;
}

// Waits until no process runs `program` (the server ends by its lifetime rule).
void waitUntilGone(const std::string& program) {
  const auto deadline = Clock::now() + kWait;
  while (!processesOf(program).empty()) {
    if (Clock::now() >= deadline) throw std::runtime_error("the server did not end");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

class World {
 public:
  World() {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    m_service.loadMofText(kMof, "bench.mof");
    if (FAILED(m_service.openNamespace(u"root\\bench", m_namespace.put()))) {
      throw std::runtime_error("no namespace");
    }
  }
  ~World() {
    m_namespace = {};
    m_service.shutdown();
    CoUninitialize();
  }

  // Milliseconds from the activation's start to the provider's Initialize having answered;
  // `created` gets the part until CoCreateInstance returned.
  double activate(double& created) {
    waitUntilGone(m_installation.server());
    const auto start = Clock::now();
    ComPtr<IWbemProviderInit> init;
    if (FAILED(CoCreateInstance(kProviderClass, nullptr, CLSCTX_LOCAL_SERVER, IID_IWbemProviderInit,
                                reinterpret_cast<void**>(init.put())))) {
      throw std::runtime_error("no provider object");
    }
    created = millisecondsSince(start);
    ComPtr<InitSink> sink(new InitSink);
    std::u16string name = u"root\\bench";
    if (FAILED(init->Initialize(nullptr, 0, name.data(), nullptr, m_namespace.get(), nullptr,
                                sink.get())) ||
        sink->wait().value_or(WBEM_E_FAILED) != WBEM_S_NO_ERROR) {
      throw std::runtime_error("Initialize failed");
    }
    const double elapsed = millisecondsSince(start);
    init = {};
    waitUntilGone(m_installation.server());
    return elapsed;
  }

  // Milliseconds from starting the floor program to its VM running.
  double floor() {
    int output[2];
    if (pipe2(output, O_CLOEXEC) != 0) throw std::runtime_error("no pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    std::string program = m_installation.floorProgram();
    char* arguments[] = {program.data(), nullptr};
    const auto start = Clock::now();
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, arguments, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(output[1]);
    char answer = 0;
    const bool told = spawned == 0 && read(output[0], &answer, 1) == 1;
    const double elapsed = millisecondsSince(start);
    close(output[0]);
    if (spawned == 0) waitpid(pid, nullptr, 0);
    if (!told || answer != '1') throw std::runtime_error("the floor's VM did not start");
    return elapsed;
  }

 private:
  Installation m_installation;
  wmi::Service m_service;
  ComPtr<IWbemServices> m_namespace;
};

void BM_Paired_ColdActivation(benchmark::State& state) {
  World world;
  std::vector<double> activations, creations, floors;
  double created = 0;
  // One pair first, not counted: the first start of each program reads its files from disk.
  world.floor();
  world.activate(created);
  for (auto _ : state) {
    // Alternating which goes first spreads the machine's moods over both.
    if (activations.size() % 2 == 0) {
      floors.push_back(world.floor());
      activations.push_back(world.activate(created));
    } else {
      activations.push_back(world.activate(created));
      floors.push_back(world.floor());
    }
    creations.push_back(created);
    state.SetIterationTime(activations.back() / 1e3);
  }
  const double activation = median(activations);
  const double floor = median(floors);
  state.counters["activation_ms"] = activation;
  state.counters["created_ms"] = median(creations);
  state.counters["floor_ms"] = floor;
  state.counters["ratio"] = activation / floor;
  // Each activation over the floor timed beside it: steadier while the machine's load drifts.
  std::vector<double> pairs;
  for (size_t i = 0; i < activations.size(); ++i) pairs.push_back(activations[i] / floors[i]);
  state.counters["pair_ratio"] = median(pairs);
}
BENCHMARK(BM_Paired_ColdActivation)->Iterations(21)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velt::bench

BENCHMARK_MAIN();
