#include "glue_failure.h"

#include <jvm/reportJavaException.h>

#include "com_ref.h"
#include "java_call.h"
#include "provider_trace.h"

namespace {

constexpr char kFailureStatus[] = "failureStatus";
constexpr char kFailureStatusSignature[] = "(Ljava/lang/Throwable;)I";
constexpr char kDescribeFailure[] = "describeFailure";
constexpr char kDescribeFailureSignature[] = "(Ljava/lang/Throwable;)[Ljava/lang/String;";
// describeFailure's texts, in this order.
enum Text : jsize { kDescription, kProviderName, kTraceRecord, kTextCount };

std::basic_string<WCHAR> wideText(JNIEnv* env, jstring text) {
  if (text == nullptr) return {};
  static_assert(sizeof(WCHAR) == sizeof(jchar));
  const jchar* units = env->GetStringChars(text, nullptr);
  if (units == nullptr) return {};
  std::basic_string<WCHAR> result(reinterpret_cast<const WCHAR*>(units),
                                  static_cast<size_t>(env->GetStringLength(text)));
  env->ReleaseStringChars(text, units);
  return result;
}

void traceText(JNIEnv* env, jstring text) {
  const char* characters = text == nullptr ? nullptr : env->GetStringUTFChars(text, nullptr);
  if (characters == nullptr) return;
  providerTrace(characters);
  env->ReleaseStringUTFChars(text, characters);
}

// Asks the Glue about the exception; false (nothing pending) when the Glue cannot say.
bool describe(JNIEnv* env, jclass glueClass, jthrowable thrown, GlueFailure& failure) {
  jmethodID statusOf = env->GetStaticMethodID(glueClass, kFailureStatus, kFailureStatusSignature);
  if (clearPendingException(env) || statusOf == nullptr) return false;
  jmethodID describeOf =
      env->GetStaticMethodID(glueClass, kDescribeFailure, kDescribeFailureSignature);
  if (clearPendingException(env) || describeOf == nullptr) return false;
  jint status = env->CallStaticIntMethod(glueClass, statusOf, thrown);
  if (clearPendingException(env)) return false;
  auto texts =
      static_cast<jobjectArray>(env->CallStaticObjectMethod(glueClass, describeOf, thrown));
  if (clearPendingException(env) || texts == nullptr) return false;
  bool complete = env->GetArrayLength(texts) >= kTextCount;
  jstring parts[kTextCount] = {};
  for (jsize i = 0; complete && i < kTextCount; ++i) {
    parts[i] = static_cast<jstring>(env->GetObjectArrayElement(texts, i));
    if (clearPendingException(env)) complete = false;
  }
  if (complete) {
    failure.status =
        FAILED(status) ? static_cast<HRESULT>(status) : static_cast<HRESULT>(WBEM_E_FAILED);
    failure.description = wideText(env, parts[kDescription]);
    failure.providerName = wideText(env, parts[kProviderName]);
    traceText(env, parts[kTraceRecord]);
    failure.described = !clearPendingException(env);
  }
  for (jstring part : parts) env->DeleteLocalRef(part);
  env->DeleteLocalRef(texts);
  return failure.described;
}

void putText(IWbemClassObject* object, const WCHAR* name, const std::basic_string<WCHAR>& text) {
  OwnedVariant value;
  value.get()->vt = VT_BSTR;
  value.get()->bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (value.get()->bstrVal == nullptr) return;
  object->Put(name, 0, value.get(), 0);
}

}  // namespace

std::optional<GlueFailure> takeGlueFailure(JNIEnv* env, jclass glueClass) {
  jthrowable thrown = env->ExceptionOccurred();
  if (thrown == nullptr) return std::nullopt;
  env->ExceptionClear();
  GlueFailure failure;
  if (!describe(env, glueClass, thrown, failure)) {
    failure = GlueFailure{};
    reportJavaException(thrown, env);
    clearPendingException(env);
  }
  env->DeleteLocalRef(thrown);
  return failure;
}

HRESULT answerGlueFailure(const GlueFailure& failure, IWbemServices* nameSpace,
                          IWbemContext* context, IWbemObjectSink* sink, const WCHAR* operation) {
  if (!failure.described) return failure.status;
  ComPtr<IWbemClassObject> statusClass;
  ComPtr<IWbemClassObject> status;
  UniqueBstr className;
  *className.put() = SysAllocString(OLESTR("__ExtendedStatus"));
  // Without the class the client still gets the status, only not the texts.
  if (nameSpace != nullptr && className.get() != nullptr &&
      SUCCEEDED(nameSpace->GetObject(className.get(), 0, context, statusClass.put(), nullptr)) &&
      statusClass) {
    statusClass->SpawnInstance(0, status.put());
  }
  if (status) {
    putText(status.get(), OLESTR("Description"), failure.description);
    putText(status.get(), OLESTR("Operation"), operation);
    putText(status.get(), OLESTR("ProviderName"), failure.providerName);
    OwnedVariant code;
    code.get()->vt = VT_I4;
    code.get()->lVal = failure.status;
    status->Put(OLESTR("StatusCode"), 0, code.get(), 0);
  }
  sink->SetStatus(WBEM_STATUS_COMPLETE, failure.status, nullptr, status.get());
  return failure.status;
}
