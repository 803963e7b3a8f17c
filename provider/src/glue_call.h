// The start every operation that calls the Glue object makes: the thread attached to the VM
// (only when the provider has its Glue object), then the Glue method looked up under the
// exception protocol. The thread stays attached until the operation detaches it or leaves.
#pragma once

#include <jni.h>

#include "glue_contract.h"
#include "java_call.h"

class GlueCall {
 public:
  // Hands the request's context to the sibling library with the attach.
  GlueCall(JvmServices* jvm, IWbemContext* context, jclass glueClass,
           const velt::provider::glue::Method& method)
      : m_thread(jvm, context) {
    lookUp(glueClass, method);
  }
  // The plain attach: the sibling library keeps whatever context it holds for the thread.
  GlueCall(JvmServices* jvm, jclass glueClass, const velt::provider::glue::Method& method)
      : m_thread(jvm) {
    lookUp(glueClass, method);
  }

  // False when the thread could not attach or the method could not be had; a pending
  // exception has been reported, or the method's not-found text traced, by then.
  bool ready() const { return m_method != nullptr; }
  JNIEnv* env() const { return m_thread.env(); }
  jmethodID method() const { return m_method; }
  void detach() { m_thread.detach(); }

 private:
  void lookUp(jclass glueClass, const velt::provider::glue::Method& method) {
    if (m_thread.attached()) m_method = lookUpGlueMethod(m_thread.env(), glueClass, method);
  }

  JavaThread m_thread;
  jmethodID m_method = nullptr;
};
