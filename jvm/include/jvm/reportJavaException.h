// Traces the message of a Java throwable that the caller has already cleared.
#pragma once

#include <jni.h>

void reportJavaException(jthrowable throwable, JNIEnv* env);
