#include "bench_world.h"

#include <oleauto.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <stdexcept>

namespace velt::bench {
namespace {

World* g_world = nullptr;

// Throws, so that the host made so far is taken down again.
void require(bool condition, const char* what) {
  if (!condition) throw std::runtime_error(what);
}

}  // namespace

World& World::get() {
  // Threaded benchmarks ask for the world from every thread at once.
  static std::mutex making;
  std::lock_guard<std::mutex> lock(making);
  if (g_world == nullptr) {
    try {
      g_world = new World();
    } catch (const std::exception& failure) {
      std::fprintf(stderr, "bench_provider: %s\n", failure.what());
      std::exit(2);
    }
  }
  return *g_world;
}

void World::end() {
  delete g_world;
  g_world = nullptr;
}

World::World() {
  // Subscribing activates the provider (the process's first Initialize, which starts the VM)
  // and hands it the event sink; the events then reach m_events.
  m_events = new velt::host::CountingSink();
  velt::UniqueBstr language(SysAllocString(u"WQL"));
  velt::UniqueBstr query(SysAllocString(u"select * from Bench_Event"));
  HRESULT hr =
      services()->ExecNotificationQueryAsync(language.get(), query.get(), 0, nullptr, m_events);
  if (FAILED(hr))
    std::fprintf(stderr, "bench_provider: subscribing failed with 0x%08x\n", unsigned(hr));
  require(SUCCEEDED(hr), "the provider did not start");

  m_java = new velt::host::JavaControl();
  require(m_java->ready(), "the Java side is not reachable");
  m_item = m_host.newItem(u"a");
  m_event = m_host.newEvent();
  require(m_item != nullptr && m_event != nullptr, "no instances to hand out");
  m_java->setInstance(m_item);
  m_java->setEventObject(m_event);
  m_itemPath.reset(SysAllocString(u"Bench_Item.Name=\"a\""));
  m_itemClass.reset(SysAllocString(u"Bench_Item"));
  m_methodName.reset(SysAllocString(u"Grow"));

  IWbemClassObject* definition = nullptr;
  services()->GetObject(itemClass(), 0, nullptr, &definition, nullptr);
  IWbemClassObject* inDefinition = nullptr;
  if (definition != nullptr) definition->GetMethod(methodName(), 0, &inDefinition, nullptr);
  if (inDefinition != nullptr) inDefinition->SpawnInstance(0, &m_inParameters);
  if (inDefinition != nullptr) inDefinition->Release();
  if (definition != nullptr) definition->Release();
  require(m_inParameters != nullptr, "no in-parameters for the method");

  AttachedThread thread(vm());
  JNIEnv* env = thread.env();
  jclass floor = env->FindClass("com/norvex/bench/Floor");
  require(floor != nullptr, "no floor class");
  m_floorClass = static_cast<jclass>(env->NewGlobalRef(floor));
  jobject object = env->NewObject(floor, env->GetMethodID(floor, "<init>", "()V"));
  m_floorObject = env->NewGlobalRef(object);
  env->DeleteLocalRef(object);
  env->DeleteLocalRef(floor);
}

World::~World() {
  {
    AttachedThread thread(vm());
    thread.env()->DeleteGlobalRef(m_floorObject);
    thread.env()->DeleteGlobalRef(m_floorClass);
  }
  m_java->setInstance(nullptr);
  m_java->setEventObject(nullptr);
  m_inParameters->Release();
  m_item->Release();
  m_event->Release();
  delete m_java;
  m_host.shutDown();
  m_events->Release();
}

double threadCpuSeconds() {
  timespec now;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

AttachedThread::AttachedThread(JavaVM* vm) : m_vm(vm) {
  m_vm->AttachCurrentThread(reinterpret_cast<void**>(&m_env), nullptr);
}

AttachedThread::~AttachedThread() { m_vm->DetachCurrentThread(); }

}  // namespace velt::bench
