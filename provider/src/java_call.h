// A provider call's stay in Java: the calling thread attached for the call, detached on every
// way out, and the pending-exception protocol every call follows.
#pragma once

#include <jni.h>

#include <jvm/JvmServices.h>

#include "glue_contract.h"

struct IWbemContext;

class JavaThread {
 public:
  // Attaches plainly: the sibling library keeps whatever context it holds for the thread.
  explicit JavaThread(JvmServices* jvm);
  // Hands the call's context to the sibling library, then attaches.
  JavaThread(JvmServices* jvm, IWbemContext* context);
  ~JavaThread() { detach(); }
  JavaThread(const JavaThread&) = delete;
  JavaThread& operator=(const JavaThread&) = delete;

  bool attached() const { return m_env != nullptr; }
  JNIEnv* env() const { return m_env; }
  // Detaches now; later calls do nothing.
  void detach();

 private:
  JvmServices* m_jvm = nullptr;
  JNIEnv* m_env = nullptr;
};

// When a Java exception is pending: traces `failureText` (if any), clears the exception and
// reports its message. False when nothing was pending.
bool reportPendingException(JNIEnv* env, const char* failureText = nullptr);

// Clears a pending exception without reporting it. False when nothing was pending.
bool clearPendingException(JNIEnv* env);

// The Glue method's ID; null when it cannot be had, with a pending exception reported or else
// the method's not-found text traced.
jmethodID lookUpGlueMethod(JNIEnv* env, jclass glueClass,
                           const velt::provider::glue::Method& method);
