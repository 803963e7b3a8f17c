#include "java_text.h"

#include <string>

jstring javaString(JNIEnv* env, const WCHAR* text) {
  if (text == nullptr) return nullptr;
  static_assert(sizeof(WCHAR) == sizeof(jchar));
  auto length = static_cast<jsize>(std::char_traits<WCHAR>::length(text));
  return env->NewString(reinterpret_cast<const jchar*>(text), length);
}
