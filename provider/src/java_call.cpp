#include "java_call.h"

#include <jvm/reportJavaException.h>

#include "provider_trace.h"

JavaThread::JavaThread(JvmServices* jvm) : m_jvm(jvm) {
  if (m_jvm == nullptr) return;
  JNIEnv* env = nullptr;
  if (m_jvm->attach(&env) == JNI_OK) m_env = env;
}

JavaThread::JavaThread(JvmServices* jvm, IWbemContext* context) : m_jvm(jvm) {
  if (m_jvm == nullptr) return;
  JNIEnv* env = nullptr;
  if (m_jvm->attachWithContext(&env, context) == JNI_OK) m_env = env;
}

void JavaThread::detach() {
  if (m_env == nullptr) return;
  m_env = nullptr;
  m_jvm->detach();
}

bool reportPendingException(JNIEnv* env, const char* failureText) {
  jthrowable thrown = env->ExceptionOccurred();
  if (thrown == nullptr) return false;
  if (failureText != nullptr) providerTrace(failureText);
  env->ExceptionClear();
  reportJavaException(thrown, env);
  // A getMessage that throws in turn leaves its own exception behind; it says nothing more.
  env->ExceptionClear();
  return true;
}

bool clearPendingException(JNIEnv* env) {
  if (!env->ExceptionCheck()) return false;
  env->ExceptionClear();
  return true;
}

jmethodID lookUpGlueMethod(JNIEnv* env, jclass glueClass,
                           const velt::provider::glue::Method& method) {
  jmethodID id = env->GetMethodID(glueClass, method.name, method.signature);
  if (method.notFoundText == nullptr) {
    // The null test stays as well: no JNI call may be made with a null method ID.
    if (reportPendingException(env) || id == nullptr) return nullptr;
    return id;
  }
  if (id == nullptr && !reportPendingException(env)) providerTrace(method.notFoundText);
  return id;
}
