// ProvideEvents keeps WMI's event sink and tells the Glue object where to fire; Java fires
// through the native CheckForEvents, registered on the Glue class here. A sink is released only
// once Java has been told to let go of it: setEventSink returns after the fires under way.
#include "critical_section_lock.h"
#include "glue_contract.h"
#include "glue_failure.h"
#include "java_call.h"
#include "javapointer/java_pointer.h"
#include "provider/proxy_provider.h"
#include "provider_trace.h"

namespace {

enum class SinkCall { kNotMade, kMade, kThrew };

bool registerCheckForEvents(JNIEnv* env) {
  jclass glueClass = env->FindClass(velt::provider::glue::kClassPath);
  if (reportPendingException(env) || glueClass == nullptr) return false;
  providerTrace("About to RegisterNatives");
  JNINativeMethod checkForEvents = {
      const_cast<char*>(velt::provider::glue::kCheckForEvents),
      const_cast<char*>(velt::provider::glue::kCheckForEventsSignature),
      reinterpret_cast<void*>(&Java_com_norvex_sysmgt_proxy_Glue_CheckForEvents)};
  env->RegisterNatives(glueClass, &checkForEvents, 1);
  return !reportPendingException(env);
}

// Glue.setEventSink with `sink` (null: none). A call that threw still reached Java, which may
// have let go of its old sink.
SinkCall setEventSink(JNIEnv* env, jobject glueObject, IWbemObjectSink* sink) {
  jmethodID method = lookUpGlueMethod(env, CProxyProvider::sm_glueClass,
                                      velt::provider::glue::kSetEventSinkMethod);
  if (method == nullptr) return SinkCall::kNotMade;
  std::optional<jlong> sinkValue = pointerToJava(sink);
  if (!sinkValue) {
    providerTrace(kPointerTooWideForJava);
    return SinkCall::kNotMade;
  }
  providerTrace("Calling setEventSink");
  env->CallVoidMethod(glueObject, method, *sinkValue);
  // Traced as the Glue describes it; the event sink takes no status.
  return takeGlueFailure(env, CProxyProvider::sm_glueClass) ? SinkCall::kThrew : SinkCall::kMade;
}

}  // namespace

HRESULT CProxyProvider::ProvideEvents(IWbemObjectSink* pSink, LONG) {
  providerTrace("CProxyProvider::ProvideEvents()");
  debugOutput("CProxyProvider::ProvideEvents()\n");
  if (pSink == nullptr) return WBEM_E_INVALID_PARAMETER;

  CriticalSectionLock serialised(&m_csEvents);
  pSink->AddRef();
  SinkCall call = SinkCall::kNotMade;
  {
    JavaThread thread(glueJvm());
    if (thread.attached() && registerCheckForEvents(thread.env())) {
      call = setEventSink(thread.env(), m_glueObject, pSink);
    }
  }
  if (call == SinkCall::kNotMade && m_sinkGivenToJava) {
    // Java still fires into the sink it has: that one stays held.
    pSink->Release();
    return WBEM_E_FAILED;
  }
  IWbemObjectSink* previous = m_pEventSink;
  m_pEventSink = pSink;
  m_sinkGivenToJava = call != SinkCall::kNotMade;
  if (previous != nullptr) previous->Release();
  if (call != SinkCall::kMade) return WBEM_E_FAILED;

  providerTrace("Leaving CProxyProvider::ProvideEvents()");
  debugOutput("Leaving CProxyProvider::ProvideEvents()\n");
  return WBEM_S_NO_ERROR;
}

bool CProxyProvider::takeSinkFromJava() {
  if (!m_sinkGivenToJava) return true;
  JavaThread thread(glueJvm());
  if (!thread.attached() ||
      setEventSink(thread.env(), m_glueObject, nullptr) == SinkCall::kNotMade) {
    return false;
  }
  m_sinkGivenToJava = false;
  return true;
}

extern "C" JNIEXPORT void JNICALL Java_com_norvex_sysmgt_proxy_Glue_CheckForEvents(JNIEnv*, jobject,
                                                                                   jint sink,
                                                                                   jint object) {
  if (sink == 0 || object == 0) return;
  auto* event = pointerFromJava<IWbemClassObject>(object);
  pointerFromJava<IWbemObjectSink>(sink)->Indicate(1, &event);
}
