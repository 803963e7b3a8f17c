// GetObjectAsync: confirms the path's class in the namespace, then asks Glue.getInstance for
// the instance and hands it to WMI.
#include "com_ref.h"
#include "glue_call.h"
#include "glue_contract.h"
#include "glue_failure.h"
#include "java_text.h"
#include "javapointer/java_pointer.h"
#include "provider/proxy_provider.h"
#include "provider_trace.h"
#include "request_path.h"
#include "sink_delivery.h"

HRESULT CProxyProvider::GetObjectAsync(const BSTR strObjectPath, LONG, IWbemContext* pCtx,
                                       IWbemObjectSink* pResponseHandler) {
  providerTrace("CProxyProvider::GetObjectAsync()");
  debugOutput("CProxyProvider::GetObjectAsync()\n");
  if (strObjectPath == nullptr || pResponseHandler == nullptr) return WBEM_E_INVALID_PARAMETER;

  ComPtr<IWbemClassObject> classDefinition;
  HRESULT found = classDefinitionOfPath(m_pNamespace, strObjectPath, pCtx, classDefinition);
  if (FAILED(found)) return found;
  ComPtr<IWbemClassObject> blankInstance;
  classDefinition->SpawnInstance(0, blankInstance.put());
  classDefinition.reset();
  if (!blankInstance) return WBEM_E_FAILED;
  blankInstance.reset();

  GlueCall call(glueJvm(), pCtx, sm_glueClass, velt::provider::glue::kGetInstanceMethod);
  if (!call.ready()) return WBEM_E_FAILED;
  JNIEnv* env = call.env();

  jstring pathText = javaString(env, strObjectPath);
  if (reportPendingException(env)) return WBEM_E_FAILED;
  jint result = env->CallIntMethod(m_glueObject, call.method(), pathText);
  if (std::optional<GlueFailure> failure = takeGlueFailure(env, sm_glueClass)) {
    return answerGlueFailure(*failure, m_pNamespace, pCtx, pResponseHandler, OLESTR("GetObject"));
  }
  if (result == 0) {
    // Java found nothing: there is no object to deliver or to release.
    providerTrace("Glue::getInstance() returned no instance.");
    return WBEM_E_NOT_FOUND;
  }

  providerTrace("Glue::getInstance() invoked successfully...");
  auto* instance = pointerFromJava<IWbemClassObject>(result);
  indicateOne(pResponseHandler, instance);
  completeWithSuccess(pResponseHandler);
  instance->Release();
  call.detach();
  providerTrace("Leaving CProxyProvider::GetObjectAsync()");
  debugOutput("Leaving CProxyProvider::GetObjectAsync()\n");
  return WBEM_S_NO_ERROR;
}
