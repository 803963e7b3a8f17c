// The 1.1-style default-arguments record of the JNI invocation interface. Today's jni.h no
// longer declares it, but runtimes still fill it in JNI_GetDefaultJavaVMInitArgs.
#pragma once

#include <jni.h>

#include <cstdarg>
#include <cstdio>

struct JDK1_1InitArgs {
  jint version;
  char** properties;
  jint checkSource;
  jint nativeStackSize;
  jint javaStackSize;
  jint minHeapSize;
  jint maxHeapSize;
  jint verifyMode;
  char* classpath;
  jint(JNICALL* vfprintf)(FILE* stream, const char* format, va_list arguments);
  void(JNICALL* exit)(jint code);
  void(JNICALL* abort)(void);
  jint enableClassGC;
  jint enableVerboseGC;
  jint disableAsyncGC;
  jint verbose;
  jboolean debugging;
  jint debugPort;
};
