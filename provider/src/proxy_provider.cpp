// The provider object: creation, identity, destruction and the VM's shutdown with the last
// initialised provider.
#include "provider/proxy_provider.h"

#include <jvm/JvmServices.h>

#include <new>

#include "critical_section_lock.h"
#include "glue_contract.h"
#include "java_call.h"
#include "provider_trace.h"

JvmServices* CProxyProvider::sm_pJVM = nullptr;
jclass CProxyProvider::sm_glueClass = nullptr;
LONG CProxyProvider::sm_cJvmUsers = 0;
CRITICAL_SECTION CProxyProvider::sm_csJvm;

HRESULT CProxyProvider::CreateInstance(IUnknown* pOuter, CUnknown** out) {
  providerTrace("CProxyProvider::CreateInstance()");
  *out = new (std::nothrow) CProxyProvider(pOuter);
  return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

CProxyProvider::CProxyProvider(IUnknown* pOuter)
    : CUnknown(pOuter),
      m_glueObject(nullptr),
      m_pNamespace(nullptr),
      m_pEventSink(nullptr),
      m_countedAsJvmUser(0),
      m_initializeTaken(0),
      m_sinkGivenToJava(false) {
  InitializeCriticalSection(&m_csEvents);
  providerTrace("CProxyProvider::CProxyProvider()");
}

CProxyProvider::~CProxyProvider() {
  providerTrace("CProxyProvider::~CProxyProvider()");
  debugOutput("CProxyProvider::~CProxyProvider()\n");
  // Java's event sources use the sink and the namespace: they stop, and the fires under way
  // end, before either is released. A Java side that cannot be told keeps both.
  if (takeSinkFromJava()) {
    if (m_pNamespace != nullptr) m_pNamespace->Release();
    if (m_pEventSink != nullptr) m_pEventSink->Release();
  } else {
    providerTrace(
        "The namespace and the event sink are kept: Java could not be told to stop "
        "firing events.");
  }
  // The Glue object goes before this object stops counting as a user, so that no other
  // provider's shutdown can take the VM away while it is being finalised.
  if (m_glueObject != nullptr) finaliseGlueObject();
  if (InterlockedExchange(&m_countedAsJvmUser, 0) != 0 &&
      InterlockedDecrement(&sm_cJvmUsers) == 0) {
    shutDownJvm();
  }
  DeleteCriticalSection(&m_csEvents);
}

bool CProxyProvider::CanShutdownJVM() { return sm_cJvmUsers == 0; }

void CProxyProvider::countAsJvmUser() {
  if (InterlockedExchange(&m_countedAsJvmUser, 1) == 0) InterlockedIncrement(&sm_cJvmUsers);
}

void CProxyProvider::finaliseGlueObject() {
  JavaThread thread(sm_pJVM);
  if (!thread.attached()) {
    // Without a VM to attach to, the reference cannot be given back; it is forgotten.
    m_glueObject = nullptr;
    return;
  }
  JNIEnv* env = thread.env();
  using namespace velt::provider::javaplatform;
  jobject runtime = nullptr;
  jmethodID runFinalization = nullptr;
  jmethodID gc = nullptr;
  jclass runtimeClass = env->FindClass(kRuntimeClass);
  if (!clearPendingException(env) && runtimeClass != nullptr) {
    jmethodID getRuntime = env->GetStaticMethodID(runtimeClass, kGetRuntime, kGetRuntimeSignature);
    if (!clearPendingException(env) && getRuntime != nullptr) {
      runtime = env->CallStaticObjectMethod(runtimeClass, getRuntime);
      if (clearPendingException(env)) runtime = nullptr;
    }
    runFinalization = env->GetMethodID(runtimeClass, kRunFinalization, kVoidSignature);
    if (clearPendingException(env)) runFinalization = nullptr;
    gc = env->GetMethodID(runtimeClass, kGc, kVoidSignature);
    if (clearPendingException(env)) gc = nullptr;
  }

  env->DeleteGlobalRef(m_glueObject.exchange(nullptr));

  debugOutput("Calling finalize method\n");
  providerTrace("Calling finalize method\n");
  if (runtime != nullptr && gc != nullptr) {
    env->CallVoidMethod(runtime, gc);
    clearPendingException(env);
  }
  if (runtime != nullptr && runFinalization != nullptr) {
    env->CallVoidMethod(runtime, runFinalization);
    clearPendingException(env);
  }
  thread.detach();
}

void CProxyProvider::shutDownJvm() {
  // Under the lock so that a provider initialising now either counts itself before this test
  // or finds no VM object and sets up afresh.
  CriticalSectionLock lock(&sm_csJvm);
  if (!CanShutdownJVM() || sm_pJVM == nullptr) return;
  providerTrace("Shutting down the JVM");
  debugOutput("CanShutdownJVM() = true\n");
  // A VM that never started (or never loaded the class) has no class reference to drop, and
  // nothing to attach to.
  if (sm_glueClass != nullptr) {
    JavaThread thread(sm_pJVM);
    if (thread.attached()) thread.env()->DeleteGlobalRef(sm_glueClass);
    thread.detach();
    sm_glueClass = nullptr;
  }
  JvmServices::release();
  sm_pJVM = nullptr;
}

HRESULT STDMETHODCALLTYPE CProxyProvider::InnerQueryInterface(REFIID iid, void** out) {
  *out = nullptr;
  if (IsEqualIID(iid, IID_IWbemEventProvider)) {
    return FinishQueryInterface(static_cast<IWbemEventProvider*>(this), out);
  }
  if (IsEqualIID(iid, IID_IWbemProviderInit)) {
    return FinishQueryInterface(static_cast<IWbemProviderInit*>(this), out);
  }
  if (IsEqualIID(iid, IID_IWbemServices)) {
    return FinishQueryInterface(static_cast<IWbemServices*>(this), out);
  }
  return CUnknown::InnerQueryInterface(iid, out);
}

HRESULT STDMETHODCALLTYPE CProxyProvider::QueryInterface(REFIID iid, void** out) {
  return m_pOuter->QueryInterface(iid, out);
}

ULONG STDMETHODCALLTYPE CProxyProvider::AddRef() { return m_pOuter->AddRef(); }

ULONG STDMETHODCALLTYPE CProxyProvider::Release() { return m_pOuter->Release(); }
