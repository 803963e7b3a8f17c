// A native that faults, so that the VM crashes the way it does when native code goes wrong.
#include <jni.h>

namespace {
volatile int* volatile nowhere = nullptr;
}

extern "C" JNIEXPORT void JNICALL Java_com_norvex_test_crash_CrashProvider_crash(JNIEnv*, jclass) {
  *nowhere = 1;
}
