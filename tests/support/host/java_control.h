// The host's hand on the Java side: the cheap Glue's settings and the natives it and the floor
// class need, reached through the VM the provider started.
#pragma once

#include <jni.h>
#include <wbemcli.h>

namespace velt::host {

class JavaControl {
 public:
  // Joins the running VM (a user of the runtime services while it lives) and registers the
  // natives of the cheap Glue and of the floor class. The VM must run already.
  JavaControl();
  ~JavaControl();
  JavaControl(const JavaControl&) = delete;
  JavaControl& operator=(const JavaControl&) = delete;

  bool ready() const { return m_vm != nullptr; }
  JavaVM* vm() const { return m_vm; }

  // The cheap Glue's settings.
  void setInstance(IWbemClassObject* instance);
  void setEventObject(IWbemClassObject* event);
  void setEnumerationSize(int count);

  // Fires `count` events from the calling thread through the Glue's CheckForEvents.
  void fire(int count);

 private:
  void setStaticLong(const char* field, jlong value);
  JavaVM* m_vm = nullptr;
};

}  // namespace velt::host
