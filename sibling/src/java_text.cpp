#include "java_text.h"

#include <cstring>
#include <vector>

namespace qelvor {

static_assert(sizeof(jchar) == sizeof(OLECHAR), "Java and OLE text share the 16-bit unit");

BSTR bstrFromJava(JNIEnv* env, jstring text) {
  if (text == nullptr) return nullptr;
  const jsize length = env->GetStringLength(text);
  BSTR result = SysAllocStringLen(nullptr, static_cast<UINT>(length));
  if (result == nullptr) {
    jclass outOfMemory = env->FindClass("java/lang/OutOfMemoryError");
    if (outOfMemory != nullptr) env->ThrowNew(outOfMemory, "no memory for a BSTR");
    return nullptr;
  }
  env->GetStringRegion(text, 0, length, reinterpret_cast<jchar*>(result));
  return result;
}

jstring javaFromText(JNIEnv* env, const OLECHAR* text, UINT length) {
  static const jchar empty = 0;
  return env->NewString(length == 0 ? &empty : reinterpret_cast<const jchar*>(text),
                        static_cast<jsize>(length));
}

}  // namespace qelvor
