// ExecMethodAsync: makes the method's out-parameter instance from the class definition, wraps
// the in-parameters for Java, and lets Glue.invokeMethod run the method and fill the
// out-parameters, which then go to WMI.
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

namespace {

// The wrapper Java reads the in-parameters through; null with the exception reported when it
// cannot be made.
jobject wrapInParameters(JNIEnv* env, jlong inParameters) {
  jclass wrapperClass = env->FindClass(velt::provider::glue::kWbemClassObjectPath);
  if (reportPendingException(env) || wrapperClass == nullptr) return nullptr;
  jmethodID constructor = env->GetMethodID(
      wrapperClass, "<init>", velt::provider::glue::kWbemClassObjectConstructorSignature);
  if (reportPendingException(env) || constructor == nullptr) return nullptr;
  jobject wrapper = env->NewObject(wrapperClass, constructor, inParameters);
  if (reportPendingException(env)) return nullptr;
  return wrapper;
}

}  // namespace

HRESULT CProxyProvider::ExecMethodAsync(const BSTR strObjectPath, const BSTR strMethodName, LONG,
                                        IWbemContext* pCtx, IWbemClassObject* pInParams,
                                        IWbemObjectSink* pResponseHandler) {
  providerTrace("CProxyProvider::ExecMethodAsync()");
  if (strObjectPath == nullptr || strMethodName == nullptr || pResponseHandler == nullptr) {
    return WBEM_E_INVALID_PARAMETER;
  }

  ComPtr<IWbemClassObject> classDefinition;
  HRESULT found = classDefinitionOfPath(m_pNamespace, strObjectPath, pCtx, classDefinition);
  if (FAILED(found)) return found;
  ComPtr<IWbemClassObject> outDefinition;
  HRESULT method = classDefinition->GetMethod(strMethodName, 0, nullptr, outDefinition.put());
  classDefinition.reset();
  if (FAILED(method)) return WBEM_E_INVALID_METHOD;
  // A method without out-parameters runs all the same; Java then receives 0 for them and WMI
  // only the final status.
  ComPtr<IWbemClassObject> outParameters;
  if (outDefinition) {
    outDefinition->SpawnInstance(0, outParameters.put());
    outDefinition.reset();
    if (!outParameters) return WBEM_E_FAILED;
  }

  GlueCall call(glueJvm(), pCtx, sm_glueClass, velt::provider::glue::kInvokeMethodMethod);
  if (!call.ready()) return WBEM_E_FAILED;
  JNIEnv* env = call.env();
  std::optional<jlong> inValue = pointerToJava(pInParams);
  std::optional<jlong> outValue = pointerToJava(outParameters.get());
  if (!inValue || !outValue) {
    providerTrace(kPointerTooWideForJava);
    return WBEM_E_FAILED;
  }
  jstring pathText = javaString(env, strObjectPath);
  jstring methodName = nullptr;
  if (!env->ExceptionCheck()) methodName = javaString(env, strMethodName);
  if (reportPendingException(env)) return WBEM_E_FAILED;
  jobject wrapper = wrapInParameters(env, *inValue);
  if (wrapper == nullptr) return WBEM_E_FAILED;

  env->CallVoidMethod(m_glueObject, call.method(), pathText, methodName, wrapper, *outValue);
  if (std::optional<GlueFailure> failure = takeGlueFailure(env, sm_glueClass)) {
    return answerGlueFailure(*failure, m_pNamespace, pCtx, pResponseHandler, OLESTR("ExecMethod"));
  }

  if (outParameters) {
    indicateOne(pResponseHandler, outParameters.get());
    outParameters.reset();
  }
  completeWithSuccess(pResponseHandler);
  providerTrace("Glue::invokeMethod() invoked successfully...");
  call.detach();
  providerTrace("Leaving CProxyProvider::ExecMethodAsync()");
  return WBEM_S_NO_ERROR;
}
