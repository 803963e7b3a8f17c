// PutInstanceAsync: checks that the instance has a valid path, then hands its class name and
// the instance itself to Glue.setInstance and gives the instance back to WMI.
#include "com_ref.h"
#include "glue_call.h"
#include "glue_contract.h"
#include "glue_failure.h"
#include "java_text.h"
#include "javapointer/java_pointer.h"
#include "objectpath/object_path.h"
#include "provider/proxy_provider.h"
#include "provider_trace.h"
#include "sink_delivery.h"

namespace {

bool hasValidPath(IWbemClassObject* instance) {
  try {
    ObjectPath path;
    path = WbemObjectPath(instance);
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace

HRESULT CProxyProvider::PutInstanceAsync(IWbemClassObject* pInst, LONG, IWbemContext* pCtx,
                                         IWbemObjectSink* pResponseHandler) {
  providerTrace("CProxyProvider::PutInstanceAsync()");
  debugOutput("CProxyProvider::PutInstanceAsync()\n");
  if (pInst == nullptr || pResponseHandler == nullptr) return WBEM_E_INVALID_PARAMETER;

  OwnedVariant classProperty;
  pInst->Get(OLESTR("__CLASS"), 0, classProperty.get(), nullptr, nullptr);
  if (!hasValidPath(pInst)) return WBEM_E_INVALID_OBJECT_PATH;

  // The plain attach: this request's context is not handed to the sibling library.
  GlueCall call(glueJvm(), sm_glueClass, velt::provider::glue::kSetInstanceMethod);
  if (!call.ready()) return WBEM_E_FAILED;
  JNIEnv* env = call.env();

  const WCHAR* className = nullptr;
  OwnedVariant classText;
  if (classProperty.value().vt == VT_BSTR) {
    className = classProperty.value().bstrVal;
  } else {
    if (FAILED(VariantChangeType(classText.get(), classProperty.get(), 0, VT_BSTR))) {
      return WBEM_E_FAILED;
    }
    className = classText.value().bstrVal;
  }
  std::optional<jlong> instanceValue = pointerToJava(pInst);
  if (!instanceValue) {
    providerTrace(kPointerTooWideForJava);
    return WBEM_E_FAILED;
  }
  jstring classNameText = javaString(env, className);
  if (reportPendingException(env)) return WBEM_E_FAILED;

  env->CallVoidMethod(m_glueObject, call.method(), classNameText, *instanceValue);
  if (std::optional<GlueFailure> failure = takeGlueFailure(env, sm_glueClass)) {
    return answerGlueFailure(*failure, m_pNamespace, pCtx, pResponseHandler, OLESTR("PutInstance"));
  }

  indicateOne(pResponseHandler, pInst);
  completeWithSuccess(pResponseHandler);
  // Glue.setInstance leaves one reference on the instance it stored; this balances it.
  pInst->Release();
  call.detach();
  providerTrace("Leaving CProxyProvider::PutInstanceAsync()");
  debugOutput("Leaving CProxyProvider::PutInstanceAsync()\n");
  return WBEM_S_NO_ERROR;
}
