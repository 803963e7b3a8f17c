// Initialize: keeps the namespace, makes sure the process has a running VM with the Glue class,
// and creates this provider's Glue object. The outcome goes to the init sink only.
#include <jvm/JvmServices.h>

#include "critical_section_lock.h"
#include "glue_contract.h"
#include "init_failure.h"
#include "java_call.h"
#include "java_text.h"
#include "javapointer/java_pointer.h"
#include "provider/proxy_provider.h"
#include "provider_trace.h"

namespace {

HRESULT reportFailure(IWbemProviderInitSink* sink) {
  sink->SetStatus(WBEM_E_FAILED, 0);
  return WBEM_S_NO_ERROR;
}

}  // namespace

bool CProxyProvider::setUpJava(IWbemContext* pCtx) {
  // Every thread takes the lock, also when the VM object exists: one that arrives while
  // another still starts the VM waits for it, instead of using a VM that is not ready.
  CriticalSectionLock lock(&sm_csJvm);
  if (sm_pJVM != nullptr && sm_glueClass != nullptr) {
    providerTrace("sm_pJVM was not 0");
    countAsJvmUser();
    return true;
  }
  // Either the first start in the process, or a retry after a start or class load that failed.
  if (sm_pJVM == nullptr) {
    JvmServices* jvm = JvmServices::acquire();
    if (jvm == nullptr) {
      JvmServices::release();  // the failed acquire counted a user all the same
      providerTrace("Unable to start JVM.");
      return false;
    }
    sm_pJVM = jvm;
    sm_pJVM->traceAllocation();
  }
  countAsJvmUser();
  if (sm_pJVM->startJvm() == 0) {
    providerTrace("Unable to start JVM.");
    return false;
  }
  providerTrace("Java Virtual Machine started...");
  jclass loaded = sm_pJVM->loadClass(velt::provider::glue::kClassName);
  if (loaded == nullptr) {
    providerTrace("Loading com.norvex.sysmgt.proxy.Glue failed.");
    return false;
  }
  JavaThread thread(sm_pJVM, pCtx);
  if (thread.attached()) {
    sm_glueClass = static_cast<jclass>(thread.env()->NewGlobalRef(loaded));
    // The loaded class already came as a global reference; only one is kept.
    thread.env()->DeleteGlobalRef(loaded);
  }
  thread.detach();
  if (sm_glueClass == nullptr) {
    providerTrace("Loading com.norvex.sysmgt.proxy.Glue failed.");
    return false;
  }
  providerTrace("Glue class loaded...");
  return true;
}

HRESULT CProxyProvider::Initialize(LPWSTR, LONG, LPWSTR wszNamespace, LPWSTR,
                                   IWbemServices* pNamespace, IWbemContext* pCtx,
                                   IWbemProviderInitSink* pInitSink) {
  providerTrace("CProxyProvider::Initialize()");
  debugOutput("CProxyProvider::Initialize()\n");
  if (pNamespace == nullptr || pInitSink == nullptr) return WBEM_E_INVALID_PARAMETER;

  // Requests, and Java's own threads, may be using the namespace and the Glue object of the
  // first Initialize: a later one cannot replace them safely, so it changes nothing.
  if (InterlockedExchange(&m_initializeTaken, 1) != 0) {
    providerTrace("Initialize refused: this provider object was initialised before.");
    return reportFailure(pInitSink);
  }
  pNamespace->AddRef();
  m_pNamespace = pNamespace;

  if (!setUpJava(pCtx)) {
    // A runtime that was not found is the one failure here its user can mend alone.
    std::string reason;
    {
      CriticalSectionLock lock(&sm_csJvm);  // another Initialize may be searching again
      if (sm_pJVM != nullptr) reason = sm_pJVM->runtimeSearchFailure();
    }
    describeInitFailure(pInitSink, m_pNamespace, pCtx, reason);
    return reportFailure(pInitSink);
  }

  JavaThread thread(sm_pJVM, pCtx);
  if (!thread.attached()) return reportFailure(pInitSink);
  JNIEnv* env = thread.env();

  jmethodID constructor = env->GetMethodID(sm_glueClass, velt::provider::glue::kConstructor,
                                           velt::provider::glue::kConstructorSignature);
  if (reportPendingException(env, "Finding the constructor for Glue class failed.")) {
    thread.detach();
    return reportFailure(pInitSink);
  }
  if (constructor == nullptr) {
    providerTrace("Finding the constructor for Glue class failed.");
    thread.detach();
    return reportFailure(pInitSink);
  }

  std::optional<jlong> namespaceValue = pointerToJava(m_pNamespace);
  if (!namespaceValue) {
    providerTrace(kPointerTooWideForJava);
    thread.detach();
    return reportFailure(pInitSink);
  }
  jstring namespaceName = javaString(env, wszNamespace);
  jobject created = nullptr;
  if (!env->ExceptionCheck()) {
    created = env->NewObject(sm_glueClass, constructor, *namespaceValue, namespaceName);
  }
  if (reportPendingException(env, "Construction of Glue object failed.") || created == nullptr) {
    thread.detach();
    return reportFailure(pInitSink);
  }
  m_glueObject = env->NewGlobalRef(created);
  env->DeleteLocalRef(created);

  providerTrace("Glue object created...");
  thread.detach();
  pInitSink->SetStatus(WBEM_S_NO_ERROR, 0);
  providerTrace("Leaving initialize");
  return WBEM_S_NO_ERROR;
}
