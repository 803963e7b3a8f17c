// WMI text handed to Java. Java receives exactly the UTF-16 units WMI sent, up to the first
// zero unit; a null text arrives as a null String.
#pragma once

#include <jni.h>
#include <windows.h>

// A local reference, or null with an OutOfMemoryError pending when the VM has no room for it.
jstring javaString(JNIEnv* env, const WCHAR* text);
