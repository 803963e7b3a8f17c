// Initialize: the first of a process, which starts the VM (each run in a fresh process), and
// a later one on a new provider object once the VM runs.
#include <benchmark/benchmark.h>

#include <jvm/JvmServices.h>
#include <objbase.h>

#include <chrono>
#include <vector>

#include "bench_world.h"
#include "provider/provider_class_id.h"

namespace velt::bench {
namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void BM_FirstInitialize(benchmark::State& state) {
  for (auto _ : state) state.SetIterationTime(runChild("first-initialize") / 1e6);
}
BENCHMARK(BM_FirstInitialize)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

// Floor: the runtime services alone starting the VM in a fresh process, same installation.
void BM_Floor_FirstVmStart(benchmark::State& state) {
  for (auto _ : state) state.SetIterationTime(runChild("first-vm-start") / 1e6);
}
BENCHMARK(BM_Floor_FirstVmStart)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_LaterInitialize(benchmark::State& state) {
  World& world = World::get();
  // The objects are released after the loop: each release runs the VM's full collection,
  // which is no part of the next Initialize.
  std::vector<IUnknown*> made;
  for (auto _ : state) {
    IUnknown* object = nullptr;
    if (FAILED(CoCreateInstance(CLSID_NorvexVeltProxyProvider, nullptr, CLSCTX_LOCAL_SERVER,
                                IID_IUnknown, reinterpret_cast<void**>(&object)))) {
      state.SkipWithError("no provider object");
      break;
    }
    Clock::time_point start = Clock::now();
    HRESULT hr = velt::host::initializeProvider(object, world.services());
    state.SetIterationTime(secondsSince(start));
    made.push_back(object);
    if (FAILED(hr)) {
      state.SkipWithError("Initialize failed");
      break;
    }
  }
  for (IUnknown* object : made) object->Release();
}
BENCHMARK(BM_LaterInitialize)->Iterations(50)->UseManualTime()->Unit(benchmark::kMicrosecond);

// Floor: attach, look up the constructor, make one object and keep it globally, detach.
void BM_Floor_LaterInitialize(benchmark::State& state) {
  World& world = World::get();
  JavaVM* vm = world.vm();
  for (auto _ : state) {
    JNIEnv* env = nullptr;
    vm->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr);
    jmethodID constructor = env->GetMethodID(world.floorClass(), "<init>", "()V");
    jobject object = env->NewObject(world.floorClass(), constructor);
    jobject kept = env->NewGlobalRef(object);
    env->DeleteGlobalRef(kept);
    vm->DetachCurrentThread();
  }
}
BENCHMARK(BM_Floor_LaterInitialize)->Unit(benchmark::kMicrosecond);

}  // namespace

// Child mode "first-initialize": microseconds of the process's first Initialize.
double firstInitializeMicroseconds() {
  velt::host::InProcessServer host;
  IUnknown* object = nullptr;
  if (FAILED(CoCreateInstance(CLSID_NorvexVeltProxyProvider, nullptr, CLSCTX_LOCAL_SERVER,
                              IID_IUnknown, reinterpret_cast<void**>(&object)))) {
    return -1;
  }
  Clock::time_point start = Clock::now();
  HRESULT hr = velt::host::initializeProvider(object, host.services());
  double elapsed = secondsSince(start);
  object->Release();
  return SUCCEEDED(hr) ? elapsed * 1e6 : -1;
}

// Child mode "first-vm-start": microseconds of the runtime services starting the VM.
double firstVmStartMicroseconds() {
  velt::host::InProcessServer host;
  Clock::time_point start = Clock::now();
  JvmServices* services = JvmServices::acquire();
  int started = services != nullptr ? services->startJvm() : 0;
  double elapsed = secondsSince(start);
  JvmServices::release();
  return started == 1 ? elapsed * 1e6 : -1;
}

}  // namespace velt::bench
