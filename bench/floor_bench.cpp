// The JNI floors: what any provider that attaches per request must pay at the least, measured
// against the same VM in the same run as the requests.
#include <benchmark/benchmark.h>

#include "bench_world.h"

namespace velt::bench {

void attachCallDetachFloor(World& world) {
  JNIEnv* env = nullptr;
  world.vm()->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr);
  jmethodID trivial = env->GetMethodID(world.floorClass(), "trivial", "(Ljava/lang/String;)I");
  benchmark::DoNotOptimize(env->CallIntMethod(world.floorObject(), trivial, nullptr));
  world.vm()->DetachCurrentThread();
}

namespace {

// One attach and detach pair.
void BM_Floor_AttachDetach(benchmark::State& state) {
  JavaVM* vm = World::get().vm();
  for (auto _ : state) {
    JNIEnv* env = nullptr;
    vm->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr);
    benchmark::DoNotOptimize(env);
    vm->DetachCurrentThread();
  }
}
BENCHMARK(BM_Floor_AttachDetach);
BENCHMARK(BM_Floor_AttachDetach)
    ->Name("Concurrent/BM_Floor_AttachDetach")
    ->Threads(1)
    ->Threads(2)
    ->Threads(4)
    ->UseRealTime();

// Attach, method look-up, one trivial call and detach: the least a request can cost.
void BM_Floor_AttachCallDetach(benchmark::State& state) {
  World& world = World::get();
  for (auto _ : state) attachCallDetachFloor(world);
}
BENCHMARK(BM_Floor_AttachCallDetach);
BENCHMARK(BM_Floor_AttachCallDetach)
    ->Name("Concurrent/BM_Floor_AttachCallDetach")
    ->Threads(1)
    ->Threads(2)
    ->Threads(4)
    ->UseRealTime();

// One call on an environment kept across calls: the JNI limit.
void BM_Floor_CachedEnvCall(benchmark::State& state) {
  World& world = World::get();
  AttachedThread thread(world.vm());
  JNIEnv* env = thread.env();
  jmethodID trivial = env->GetMethodID(world.floorClass(), "trivial", "(Ljava/lang/String;)I");
  for (auto _ : state) {
    benchmark::DoNotOptimize(env->CallIntMethod(world.floorObject(), trivial, nullptr));
  }
}
BENCHMARK(BM_Floor_CachedEnvCall);

}  // namespace

// Reads a vector of `count` Integers in JNI: attach, look up and call the method that returns
// it, then size, and per element elementAt and intValue, deleting each local reference before the
// next element. kPerElementLookUp also finds the Integer class and intValue for every element and
// deletes the class reference, as an enumeration is required to; kLookUpOnce finds them once,
// the least any reading of such a vector can cost.
void readVectorFloor(JavaVM* vm, jclass floorClass, jint count, VectorRead how) {
  JNIEnv* env = nullptr;
  vm->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr);
  jmethodID elements = env->GetStaticMethodID(floorClass, "elements", "(I)Ljava/util/Vector;");
  jobject vector = env->CallStaticObjectMethod(floorClass, elements, count);
  jclass vectorClass = env->FindClass("java/util/Vector");
  jmethodID size = env->GetMethodID(vectorClass, "size", "()I");
  jmethodID elementAt = env->GetMethodID(vectorClass, "elementAt", "(I)Ljava/lang/Object;");
  jclass integerClass = env->FindClass("java/lang/Integer");
  jmethodID intValue = env->GetMethodID(integerClass, "intValue", "()I");
  jint length = env->CallIntMethod(vector, size);
  jint sum = 0;
  for (jint i = 0; i < length; ++i) {
    jobject element = env->CallObjectMethod(vector, elementAt, i);
    if (how == VectorRead::kPerElementLookUp) {
      jclass elementClass = env->FindClass("java/lang/Integer");
      jmethodID elementIntValue = env->GetMethodID(elementClass, "intValue", "()I");
      sum += env->CallIntMethod(element, elementIntValue);
      env->DeleteLocalRef(element);
      env->DeleteLocalRef(elementClass);
    } else {
      sum += env->CallIntMethod(element, intValue);
      env->DeleteLocalRef(element);
    }
  }
  benchmark::DoNotOptimize(sum);
  vm->DetachCurrentThread();
}

namespace {

void BM_Floor_ReadVector(benchmark::State& state) {
  World& world = World::get();
  auto count = static_cast<jint>(state.range(0));
  auto how = static_cast<VectorRead>(state.range(1));
  readVectorFloor(world.vm(), world.floorClass(), count, how);  // builds the vector once
  for (auto _ : state) readVectorFloor(world.vm(), world.floorClass(), count, how);
  state.counters["per_element"] =
      benchmark::Counter(static_cast<double>(count), benchmark::Counter::kIsIterationInvariantRate |
                                                         benchmark::Counter::kInvert);
}
BENCHMARK(BM_Floor_ReadVector)
    ->ArgsProduct({{1, 100, 10000, 1000000},
                   {static_cast<int>(VectorRead::kPerElementLookUp),
                    static_cast<int>(VectorRead::kLookUpOnce)}});

// A native called from Java and doing nothing: the least an event's way out of Java costs.
void BM_Floor_NativeCallFromJava(benchmark::State& state) {
  constexpr int kCalls = 10000;
  World& world = World::get();
  AttachedThread thread(world.vm());
  JNIEnv* env = thread.env();
  jmethodID callNothing = env->GetStaticMethodID(world.floorClass(), "callNothing", "(I)V");
  for (auto _ : state) env->CallStaticVoidMethod(world.floorClass(), callNothing, kCalls);
  state.counters["per_event"] = benchmark::Counter(
      kCalls, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_Floor_NativeCallFromJava);

}  // namespace
}  // namespace velt::bench
