// ProvideEvents keeps WMI's event sink and tells the Glue object where to fire; Java fires
// through the native CheckForEvents, registered on the Glue class here.
#include "glue_contract.h"
#include "java_call.h"
#include "javapointer/java_pointer.h"
#include "provider_trace.h"
#include "proxy_provider.h"

HRESULT CProxyProvider::ProvideEvents(IWbemObjectSink* pSink, LONG) {
  providerTrace("CProxyProvider::ProvideEvents()");
  debugOutput("CProxyProvider::ProvideEvents()\n");
  if (pSink == nullptr) return WBEM_E_INVALID_PARAMETER;

  if (m_pEventSink != nullptr) m_pEventSink->Release();
  pSink->AddRef();
  m_pEventSink = pSink;

  if (!hasGlueObject()) return WBEM_E_FAILED;
  JavaThread thread(sm_pJVM);
  if (!thread.attached()) return WBEM_E_FAILED;
  JNIEnv* env = thread.env();

  jclass glueClass = env->FindClass(glue::kClassPath);
  if (reportPendingException(env) || glueClass == nullptr) return WBEM_E_FAILED;
  providerTrace("About to RegisterNatives");
  JNINativeMethod checkForEvents = {
      const_cast<char*>(glue::kCheckForEvents), const_cast<char*>(glue::kCheckForEventsSignature),
      reinterpret_cast<void*>(&Java_com_norvex_sysmgt_proxy_Glue_CheckForEvents)};
  env->RegisterNatives(glueClass, &checkForEvents, 1);
  if (reportPendingException(env)) return WBEM_E_FAILED;

  jmethodID setEventSink =
      env->GetMethodID(sm_glueClass, glue::kSetEventSink, glue::kSetEventSinkSignature);
  if (reportPendingException(env) || setEventSink == nullptr) return WBEM_E_FAILED;
  providerTrace("Calling setEventSink");
  std::optional<jlong> sinkValue = pointerToJava(m_pEventSink);
  if (!sinkValue) {
    providerTrace(kPointerTooWideForJava);
    return WBEM_E_FAILED;
  }
  env->CallVoidMethod(m_glueObject, setEventSink, *sinkValue);
  if (reportPendingException(env)) return WBEM_E_FAILED;

  thread.detach();
  providerTrace("Leaving CProxyProvider::ProvideEvents()");
  debugOutput("Leaving CProxyProvider::ProvideEvents()\n");
  return WBEM_S_NO_ERROR;
}

extern "C" JNIEXPORT void JNICALL Java_com_norvex_sysmgt_proxy_Glue_CheckForEvents(JNIEnv*, jobject,
                                                                                   jint sink,
                                                                                   jint object) {
  if (sink == 0 || object == 0) return;
  auto* event = pointerFromJava<IWbemClassObject>(object);
  pointerFromJava<IWbemObjectSink>(sink)->Indicate(1, &event);
}
