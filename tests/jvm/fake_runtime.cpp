// Stand-ins for a Java runtime library, for the start paths that must not reach a real VM.
// Built once with the default-arguments entry point only, once with a JNI_CreateJavaVM that
// records its start record, says something through the console hook and refuses, and once
// with a JNI_CreateJavaVM that makes a VM refusing every thread: it records each call of its
// invocation interface.
#include <jni.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

char defaultClassPath[] = "/fake/default/classes";

#ifdef FAKE_RUNTIME_CREATES
// Plain C text only: library-wide template statics would keep the library from unloading.
char recordedStart[8192];

void record(const char* format, ...) {
  size_t used = std::strlen(recordedStart);
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(recordedStart + used, sizeof recordedStart - used, format, arguments);
  va_end(arguments);
}

typedef jint(JNICALL* ConsoleHook)(FILE*, const char*, va_list);

void say(ConsoleHook hook, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  hook(stderr, format, arguments);
  va_end(arguments);
}
#endif

}  // namespace

// The classpath field sits behind version, properties and six jint fields in the 1.1 record.
struct OldStyleHead {
  jint version;
  char** properties;
  jint fields[6];
  char* classpath;
};

// Any other version is asked only to learn whether the runtime knows it: this one knows the
// version of Java 24 when VELT_FAKE_JAVA_24 is set, and no other.
FAKE_EXPORT jint JNICALL JNI_GetDefaultJavaVMInitArgs(void* initArgs) {
  auto* head = static_cast<OldStyleHead*>(initArgs);
  if (head->version != JNI_VERSION_1_1) {
    return head->version == 0x00180000 && std::getenv("VELT_FAKE_JAVA_24") ? JNI_OK : JNI_EVERSION;
  }
  head->classpath = defaultClassPath;
  return JNI_OK;
}

#ifdef FAKE_RUNTIME_CREATES
FAKE_EXPORT jint JNICALL JNI_CreateJavaVM(JavaVM** vm, void** env, void* initArgs) {
  auto* start = static_cast<JavaVMInitArgs*>(initArgs);
  recordedStart[0] = '\0';
  record("version=%d ignoreUnrecognized=%d\n", static_cast<int>(start->version),
         static_cast<int>(start->ignoreUnrecognized));
  ConsoleHook hook = nullptr;
  for (jint i = 0; i < start->nOptions; ++i) {
    record("%s\n", start->options[i].optionString);
    if (std::strcmp(start->options[i].optionString, "vfprintf") == 0) {
      hook = reinterpret_cast<ConsoleHook>(start->options[i].extraInfo);
    }
  }
  if (hook != nullptr) say(hook, "fake runtime says %s %d", "hello", 42);
  *vm = nullptr;
  *env = nullptr;
  return JNI_ERR;
}

FAKE_EXPORT const char* fakeRuntimeRecordedStart() { return recordedStart; }
#endif

#ifdef FAKE_RUNTIME_UNATTACHABLE
namespace {

char invocationCalls[4096];

void recordCall(const char* name) {
  size_t used = std::strlen(invocationCalls);
  std::snprintf(invocationCalls + used, sizeof invocationCalls - used, "%s ", name);
}

// Each member of the invocation interface records its call and fails.
#define RECORDED(name, result, ...) \
  jint JNICALL name(__VA_ARGS__) {  \
    recordCall(#name);              \
    return result;                  \
  }
RECORDED(DestroyJavaVM, JNI_ERR, JavaVM*)
RECORDED(AttachCurrentThread, JNI_ERR, JavaVM*, void**, void*)
RECORDED(DetachCurrentThread, JNI_ERR, JavaVM*)
RECORDED(GetEnv, JNI_EDETACHED, JavaVM*, void**, jint)
RECORDED(AttachCurrentThreadAsDaemon, JNI_ERR, JavaVM*, void**, void*)

const JNIInvokeInterface_ unattachableFunctions = {nullptr,
                                                   nullptr,
                                                   nullptr,
                                                   DestroyJavaVM,
                                                   AttachCurrentThread,
                                                   DetachCurrentThread,
                                                   GetEnv,
                                                   AttachCurrentThreadAsDaemon};
JavaVM unattachableVm = {&unattachableFunctions};

}  // namespace

FAKE_EXPORT jint JNICALL JNI_CreateJavaVM(JavaVM** vm, void** env, void*) {
  invocationCalls[0] = '\0';
  *vm = &unattachableVm;
  *env = nullptr;
  return JNI_OK;
}

FAKE_EXPORT const char* fakeRuntimeInvocationCalls() { return invocationCalls; }
#endif
