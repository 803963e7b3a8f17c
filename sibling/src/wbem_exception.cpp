#include "wbem_exception.h"

#include <cstdio>
#include <string>

namespace qelvor {

void throwWbemException(JNIEnv* env, const char* operation, HRESULT status) {
  if (env->ExceptionCheck()) return;
  jclass wbemException = env->FindClass("com/norvex/sysmgt/cim/wmi/wbem/WbemException");
  if (wbemException == nullptr) return;
  jmethodID make = env->GetMethodID(wbemException, "<init>", "(Ljava/lang/String;I)V");
  if (make == nullptr) return;
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(status));
  std::string text = std::string(operation) + " failed: " + hex;
  jstring message = env->NewStringUTF(text.c_str());
  if (message == nullptr) return;
  auto thrown = static_cast<jthrowable>(
      env->NewObject(wbemException, make, message, static_cast<jint>(status)));
  if (thrown != nullptr) env->Throw(thrown);
}

void throwJava(JNIEnv* env, const char* className, const char* message) {
  if (env->ExceptionCheck()) return;
  jclass type = env->FindClass(className);
  if (type != nullptr) env->ThrowNew(type, message);
}

}  // namespace qelvor
