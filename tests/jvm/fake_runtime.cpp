// Stand-ins for a Java runtime library, for the start paths that must not reach a real VM.
// Built once with the default-arguments entry point only, and once with a JNI_CreateJavaVM
// that records its start record, says something through the console hook and refuses.
#include <jni.h>

#include <cstdarg>
#include <cstdio>
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

FAKE_EXPORT jint JNICALL JNI_GetDefaultJavaVMInitArgs(void* initArgs) {
  static_cast<OldStyleHead*>(initArgs)->classpath = defaultClassPath;
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
