// CreateInstanceEnumAsync: one call of Glue.enumInstances, whose Vector of Integer elements
// is walked and delivered object by object.
#include "glue_call.h"
#include "glue_contract.h"
#include "glue_failure.h"
#include "java_text.h"
#include "javapointer/java_pointer.h"
#include "provider/proxy_provider.h"
#include "provider_trace.h"
#include "sink_delivery.h"

#include <cstdio>

namespace {

struct VectorAccess {
  jmethodID size = nullptr;
  jmethodID elementAt = nullptr;
};

// The Vector's members; false with the exception reported when they cannot be had.
bool lookUpVector(JNIEnv* env, VectorAccess& access) {
  using namespace velt::provider::javaplatform;
  jclass vectorClass = env->FindClass(kVectorClass);
  if (reportPendingException(env) || vectorClass == nullptr) return false;
  access.size = env->GetMethodID(vectorClass, kSize, kSizeSignature);
  if (reportPendingException(env) || access.size == nullptr) return false;
  access.elementAt = env->GetMethodID(vectorClass, kElementAt, kElementAtSignature);
  return !reportPendingException(env) && access.elementAt != nullptr;
}

enum class ElementOutcome { kObject, kNotAnObject, kJavaFailed };

// Reads element `index` as an object pointer. Only a non-null Integer of non-zero value names
// an object. Deletes the local references it makes, so a long vector does not pile them up.
ElementOutcome readElement(JNIEnv* env, jobject vector, const VectorAccess& access, jint index,
                           jint& value) {
  using namespace velt::provider::javaplatform;
  value = 0;
  jobject element = env->CallObjectMethod(vector, access.elementAt, index);
  if (reportPendingException(env)) return ElementOutcome::kJavaFailed;
  jclass integerClass = env->FindClass(kIntegerClass);
  if (reportPendingException(env) || integerClass == nullptr) {
    env->DeleteLocalRef(element);
    return ElementOutcome::kJavaFailed;
  }
  bool isInteger = element != nullptr && env->IsInstanceOf(element, integerClass);
  bool failed = false;
  if (isInteger) {
    jmethodID intValue = env->GetMethodID(integerClass, kIntValue, kIntValueSignature);
    if (intValue != nullptr) value = env->CallIntMethod(element, intValue);
    failed = intValue == nullptr;
  }
  env->DeleteLocalRef(element);
  env->DeleteLocalRef(integerClass);
  if (reportPendingException(env) || failed) return ElementOutcome::kJavaFailed;
  return isInteger && value != 0 ? ElementOutcome::kObject : ElementOutcome::kNotAnObject;
}

// After a failed read: every later element still carries a reference for this call, which is
// given back without delivering the object.
void releaseUnreached(JNIEnv* env, jobject vector, const VectorAccess& access, jint from,
                      jint count) {
  for (jint index = from; index < count; ++index) {
    jint value = 0;
    if (readElement(env, vector, access, index, value) == ElementOutcome::kObject) {
      pointerFromJava<IWbemClassObject>(value)->Release();
    }
  }
}

}  // namespace

HRESULT CProxyProvider::CreateInstanceEnumAsync(const BSTR strFilter, LONG, IWbemContext* pCtx,
                                                IWbemObjectSink* pResponseHandler) {
  providerTrace("CProxyProvider::CreateInstanceEnumAsync");
  debugOutput("CProxyProvider::CreateInstanceEnumAsync\n");
  if (strFilter == nullptr || pResponseHandler == nullptr) return WBEM_E_INVALID_PARAMETER;

  GlueCall call(glueJvm(), pCtx, sm_glueClass, velt::provider::glue::kEnumInstancesMethod);
  if (!call.ready()) return WBEM_E_FAILED;
  JNIEnv* env = call.env();

  jstring className = javaString(env, strFilter);
  jstring sameClassName = nullptr;
  if (!env->ExceptionCheck()) sameClassName = javaString(env, strFilter);
  if (reportPendingException(env)) return WBEM_E_FAILED;

  providerTrace("About to call Glue::enumInstances");
  debugOutput("About to call Glue::enumInstances.\n");
  jobject vector =
      env->CallObjectMethod(m_glueObject, call.method(), className, JNI_FALSE, sameClassName);
  if (std::optional<GlueFailure> failure = takeGlueFailure(env, sm_glueClass)) {
    return answerGlueFailure(*failure, m_pNamespace, pCtx, pResponseHandler,
                             OLESTR("CreateInstanceEnum"));
  }
  if (vector == nullptr) {
    providerTrace("Glue::enumInstances() returned no vector.");
    return WBEM_E_FAILED;
  }

  VectorAccess access;
  if (!lookUpVector(env, access)) return WBEM_E_FAILED;
  jint count = env->CallIntMethod(vector, access.size);
  if (reportPendingException(env)) return WBEM_E_FAILED;

  // An element that names no object is skipped, and the rest still delivered, so that every
  // reference Java handed over is given back; the call then fails without a final status.
  bool skippedAny = false;
  for (jint index = 0; index < count; ++index) {
    jint value = 0;
    switch (readElement(env, vector, access, index, value)) {
      case ElementOutcome::kJavaFailed:
        releaseUnreached(env, vector, access, index + 1, count);
        return WBEM_E_FAILED;
      case ElementOutcome::kNotAnObject: {
        char text[96];
        std::snprintf(text, sizeof text,
                      "Glue::enumInstances() element %d is not an instance; skipped.",
                      static_cast<int>(index));
        providerTrace(text);
        skippedAny = true;
        break;
      }
      case ElementOutcome::kObject: {
        auto* instance = pointerFromJava<IWbemClassObject>(value);
        indicateOne(pResponseHandler, instance);
        instance->Release();
        break;
      }
    }
  }
  if (skippedAny) return WBEM_E_FAILED;

  completeWithSuccess(pResponseHandler);
  call.detach();
  debugOutput("Leaving CreateInstanceEnumAsync.\n");
  providerTrace("Leaving CreateInstanceEnumAsync");
  return WBEM_S_NO_ERROR;
}
