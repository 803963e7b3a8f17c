// Java strings and BSTRs are both UTF-16, so text crosses unit for unit, with no detour through
// modified UTF-8 that would mangle characters outside the basic plane.
#pragma once

#include <windows.h>

#include <jni.h>
#include <oleauto.h>

namespace qelvor {

// A BSTR holding the string's units, owned by the caller; null for a null string. On failure
// (no memory) a Java exception is pending and the result is null.
BSTR bstrFromJava(JNIEnv* env, jstring text);

// A new Java string of the BSTR's units; null with an exception pending when the VM fails.
jstring javaFromText(JNIEnv* env, const OLECHAR* text, UINT length);
inline jstring javaFromBstr(JNIEnv* env, BSTR text) {
  return javaFromText(env, text, text == nullptr ? 0 : SysStringLen(text));
}

}  // namespace qelvor
