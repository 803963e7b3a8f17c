// Failed WMI calls become Java exceptions of the class WbemException, carrying the status.
#pragma once

#include <jni.h>
#include <windows.h>

namespace qelvor {

// Throws WbemException("<operation> failed: 0x<status>", status). Does nothing when an
// exception is already pending, so the first fault is the one Java sees.
void throwWbemException(JNIEnv* env, const char* operation, HRESULT status);

// Throws the named Java exception class with `message`, unless one is pending.
void throwJava(JNIEnv* env, const char* className, const char* message);

}  // namespace qelvor
