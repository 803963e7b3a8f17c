// The JvmServices object's life, class loading and the attachment of calling threads.
#include <jvm/JvmServices.h>
#include <jvm/reportJavaException.h>

#include <algorithm>
#include <cstdio>
#include <new>

#include "created_java_vm.h"
#include "process_state.h"
#include "trace/trace.h"

using namespace velt::jvm;

JvmServices* JvmServices::sm_pInstance = nullptr;
LONG JvmServices::sm_cUsers = 0;

JvmServices* JvmServices::acquire() {
  if (sm_pInstance == nullptr) sm_pInstance = new (std::nothrow) JvmServices();
  ++sm_cUsers;
  return sm_pInstance;
}

void JvmServices::release() {
  --sm_cUsers;
  if (sm_cUsers != 0 || sm_pInstance == nullptr) return;
  unloadSiblingLibrary();
  // The VM is never destroyed and its threads may still run code of the runtime library, so
  // the library stays while a VM exists; a later start then takes up that VM again.
  if (runtimeLibrary != nullptr && createdJavaVM() == nullptr) {
    FreeLibrary(runtimeLibrary);
    runtimeLibrary = nullptr;
  }
  delete sm_pInstance;
  sm_pInstance = nullptr;
}

void JvmServices::traceAllocation() {
  char text[256] = {};
  std::snprintf(text, sizeof text, "JvmServices object has been allocated by thread id %d\n",
                static_cast<int>(GetCurrentThreadId()));
  trace(kTraceClass, text, 0);
}

bool JvmServices::adoptExistingJavaVM() {
  m_pJavaVM = createdJavaVM();
  return m_pJavaVM != nullptr;
}

jclass JvmServices::loadClass(const char* className) {
  if (m_pJavaVM == nullptr || className == nullptr) return nullptr;
  std::string slashedName(className);
  std::replace(slashedName.begin(), slashedName.end(), '.', '/');

  JNIEnv* env = nullptr;
  m_pJavaVM->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr);
  if (env == nullptr) return nullptr;

  jclass localClass = env->FindClass(slashedName.c_str());
  jthrowable thrown = env->ExceptionOccurred();
  if (thrown != nullptr) {
    trace(kTraceClass, "Loading com.norvex.sysmgt.proxy.Glue failed.", 0);
    env->ExceptionClear();
    reportJavaException(thrown, env);
    m_pJavaVM->DetachCurrentThread();
    return nullptr;
  }
  auto globalClass = static_cast<jclass>(env->NewGlobalRef(localClass));
  m_pJavaVM->DetachCurrentThread();
  return globalClass;
}

jint JvmServices::attachWithContext(JNIEnv** env, IWbemContext* context) {
  if (pfnSetThreadWbemContext != nullptr) pfnSetThreadWbemContext(context);
  jint status = attach(env);
  // A refused thread is never detached, so the context is taken back here: otherwise the
  // thread would keep a pointer the finished call's caller may already have released.
  if (status != JNI_OK && pfnSetThreadWbemContext != nullptr) pfnSetThreadWbemContext(nullptr);
  return status;
}

jint JvmServices::attach(JNIEnv** env) {
  if (m_pJavaVM == nullptr) return JNI_ERR;
  return m_pJavaVM->AttachCurrentThread(reinterpret_cast<void**>(env), nullptr);
}

jint JvmServices::detach() {
  jint status = m_pJavaVM != nullptr ? m_pJavaVM->DetachCurrentThread() : JNI_ERR;
  if (pfnSetThreadWbemContext != nullptr) pfnSetThreadWbemContext(nullptr);
  return status;
}
