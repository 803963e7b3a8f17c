#include <jvm/reportJavaException.h>

#include <cstdio>
#include <string_view>

#include "path_rules.h"
#include "process_state.h"
#include "trace/trace.h"

using namespace velt::jvm;

namespace {

constexpr size_t kMessageBufferSize = 256;
constexpr std::string_view kPrefix = "A JNI Exception occurred: ";

// getMessage, or null when there is none or it throws itself; such an exception stays
// pending for the caller's detach to discard.
jstring messageOf(jthrowable throwable, JNIEnv* env) {
  jclass throwableClass = env->FindClass("java/lang/Throwable");
  if (env->ExceptionCheck() || throwableClass == nullptr) return nullptr;
  jmethodID getMessage = env->GetMethodID(throwableClass, "getMessage", "()Ljava/lang/String;");
  if (env->ExceptionCheck() || getMessage == nullptr) return nullptr;
  auto message = static_cast<jstring>(env->CallObjectMethod(throwable, getMessage));
  if (env->ExceptionCheck()) return nullptr;
  return message;
}

}  // namespace

void reportJavaException(jthrowable throwable, JNIEnv* env) {
  jstring message = messageOf(throwable, env);
  const char* characters = message ? env->GetStringUTFChars(message, nullptr) : nullptr;
  if (characters == nullptr) {
    trace(kTraceClass, "The exception is not displaying a message", 0);
    return;
  }

  // A long message is cut to the buffer, between characters, so the record stays valid text.
  std::string_view text = fitWholeCharacters(characters, kMessageBufferSize - kPrefix.size() - 1);
  char record[kMessageBufferSize] = {};
  std::snprintf(record, sizeof record, "%.*s%.*s", static_cast<int>(kPrefix.size()), kPrefix.data(),
                static_cast<int>(text.size()), text.data());
  trace(kTraceClass, record, 0);
  env->ReleaseStringUTFChars(message, characters);
}
