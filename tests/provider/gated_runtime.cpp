// A Java runtime library that passes everything through to the real one, except that the VM it
// hands out can be told to refuse attaching threads. The provider's tests lay it where the
// runtime is looked for, to meet a running VM that turns a request's thread away.
#include <dlfcn.h>
#include <jni.h>

#include <atomic>

#define GATED_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

typedef jint(JNICALL* DefaultArgsFunction)(void*);
typedef jint(JNICALL* CreateFunction)(JavaVM**, void**, void*);
typedef jint(JNICALL* CreatedFunction)(JavaVM**, jsize, jsize*);

void* g_realRuntime = nullptr;
JavaVM* g_realVm = nullptr;
std::atomic<bool> g_refusing{false};
std::atomic<int> g_refused{0};

void* realEntry(const char* name) {
  if (g_realRuntime == nullptr) g_realRuntime = dlopen(VELT_TEST_LIBJVM, RTLD_NOW | RTLD_LOCAL);
  return g_realRuntime != nullptr ? dlsym(g_realRuntime, name) : nullptr;
}

jint JNICALL destroyJavaVM(JavaVM*) { return g_realVm->DestroyJavaVM(); }

// While refusing, counts the refusal it answers.
bool refusing() { return g_refusing && ++g_refused > 0; }

jint JNICALL attachCurrentThread(JavaVM*, void** env, void* arguments) {
  return refusing() ? JNI_ERR : g_realVm->AttachCurrentThread(env, arguments);
}

jint JNICALL detachCurrentThread(JavaVM*) { return g_realVm->DetachCurrentThread(); }

jint JNICALL getEnv(JavaVM*, void** env, jint version) { return g_realVm->GetEnv(env, version); }

jint JNICALL attachCurrentThreadAsDaemon(JavaVM*, void** env, void* arguments) {
  return refusing() ? JNI_ERR : g_realVm->AttachCurrentThreadAsDaemon(env, arguments);
}

const JNIInvokeInterface_ gatedFunctions = {nullptr,
                                            nullptr,
                                            nullptr,
                                            destroyJavaVM,
                                            attachCurrentThread,
                                            detachCurrentThread,
                                            getEnv,
                                            attachCurrentThreadAsDaemon};
JavaVM gatedVm = {&gatedFunctions};

}  // namespace

GATED_EXPORT jint JNICALL JNI_GetDefaultJavaVMInitArgs(void* arguments) {
  auto real = reinterpret_cast<DefaultArgsFunction>(realEntry("JNI_GetDefaultJavaVMInitArgs"));
  return real != nullptr ? real(arguments) : JNI_ERR;
}

GATED_EXPORT jint JNICALL JNI_CreateJavaVM(JavaVM** vm, void** env, void* arguments) {
  auto real = reinterpret_cast<CreateFunction>(realEntry("JNI_CreateJavaVM"));
  if (real == nullptr) return JNI_ERR;
  jint status = real(&g_realVm, env, arguments);
  *vm = status == JNI_OK ? &gatedVm : nullptr;
  return status;
}

GATED_EXPORT jint JNICALL JNI_GetCreatedJavaVMs(JavaVM** vms, jsize size, jsize* count) {
  auto real = reinterpret_cast<CreatedFunction>(realEntry("JNI_GetCreatedJavaVMs"));
  if (real == nullptr) return JNI_ERR;
  jint status = real(vms, size, count);
  if (status == JNI_OK && size > 0 && *count > 0) {
    g_realVm = vms[0];
    vms[0] = &gatedVm;
  }
  return status;
}

// While on, every attach is refused.
GATED_EXPORT void gatedRuntimeRefuseAttaches(int refusing) { g_refusing = refusing != 0; }

GATED_EXPORT int gatedRuntimeRefusedAttaches() { return g_refused; }
