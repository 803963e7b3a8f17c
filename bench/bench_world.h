// What every provider benchmark and its floor share, made once per process: the provider
// hosted through the stand-in and activated, the cheap Glue primed, and the floor class.
#pragma once

#include <jni.h>
#include <wbemprov.h>

#include <owners/unique_handle.h>

#include <string>

#include "counting_sink.h"
#include "in_process_server.h"
#include "java_control.h"

namespace velt::bench {

class World {
 public:
  // The process's world, made on first use; aborts the run when it cannot be made.
  static World& get();
  // Ends it (the server's entry returns); called once at the end of main.
  static void end();

  velt::host::InProcessServer& host() { return m_host; }
  IWbemServices* services() const { return m_host.services(); }
  velt::host::JavaControl& java() { return *m_java; }
  JavaVM* vm() const { return m_java->vm(); }

  IWbemClassObject* item() const { return m_item; }
  IWbemClassObject* inParameters() const { return m_inParameters; }
  BSTR itemPath() const { return m_itemPath.get(); }
  BSTR itemClass() const { return m_itemClass.get(); }
  BSTR methodName() const { return m_methodName.get(); }

  // The floor class and one instance of it (global references).
  jclass floorClass() const { return m_floorClass; }
  jobject floorObject() const { return m_floorObject; }

 private:
  World();
  ~World();

  velt::host::InProcessServer m_host;
  velt::host::CountingSink* m_events = nullptr;
  velt::host::JavaControl* m_java = nullptr;
  IWbemClassObject* m_item = nullptr;
  IWbemClassObject* m_event = nullptr;
  IWbemClassObject* m_inParameters = nullptr;
  velt::UniqueBstr m_itemPath;
  velt::UniqueBstr m_itemClass;
  velt::UniqueBstr m_methodName;
  jclass m_floorClass = nullptr;
  jobject m_floorObject = nullptr;
};

// The calling thread attached to the VM while the object lives (the cached-environment case).
class AttachedThread {
 public:
  explicit AttachedThread(JavaVM* vm);
  ~AttachedThread();
  JNIEnv* env() const { return m_env; }

 private:
  JavaVM* m_vm;
  JNIEnv* m_env = nullptr;
};

// The floors, for the benchmarks that pair each request with its floor.
void attachCallDetachFloor(World& world);
enum class VectorRead { kPerElementLookUp, kLookUpOnce };
void readVectorFloor(JavaVM* vm, jclass floorClass, jint count,
                     VectorRead how = VectorRead::kPerElementLookUp);

// CPU time of the calling thread, in seconds.
double threadCpuSeconds();

// Runs this benchmark binary again in `mode` and returns the number the child reports.
double runChild(const std::string& mode);
// The child side: runs `mode`, prints its number; the process's exit code.
int childMain(const std::string& mode);

// The process's peak resident set (VmHWM), in KiB.
long peakResidentKiB();

}  // namespace velt::bench
