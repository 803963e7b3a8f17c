// The JNI machine-dependent types of 32-bit Windows, which the JDK's jni.h includes by this
// name. The build machine's JDK only carries its own platform's file; this one follows the
// published Windows ABI: natives are standard-call functions exported from their module,
// jint is the 32-bit long and jlong the 64-bit integer of the Windows compilers.
#ifndef VELT_JNI_MD_H
#define VELT_JNI_MD_H

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef long jint;
typedef __int64 jlong;
typedef signed char jbyte;

#endif
