#include "java_control.h"

#include <javapointer/java_pointer.h>
#include <jvm/JvmServices.h>

namespace velt::host {
namespace {

constexpr char kGlueClass[] = "com/norvex/sysmgt/proxy/Glue";
constexpr char kFloorClass[] = "com/norvex/bench/Floor";

void JNICALL addRefs(JNIEnv*, jclass, jlong object, jint count) {
  auto* target = pointerFromJava<IUnknown>(object);
  if (target == nullptr) return;
  for (jint i = 0; i < count; ++i) target->AddRef();
}

void JNICALL nothing(JNIEnv*, jclass, jint, jint) {}

// The calling thread, attached for one piece of work.
class Attached {
 public:
  explicit Attached(JavaVM* vm) : m_vm(vm) {
    if (m_vm->GetEnv(reinterpret_cast<void**>(&m_env), JNI_VERSION_1_8) == JNI_OK) return;
    m_vm->AttachCurrentThread(reinterpret_cast<void**>(&m_env), nullptr);
    m_attachedHere = true;
  }
  ~Attached() {
    if (m_attachedHere) m_vm->DetachCurrentThread();
  }
  JNIEnv* operator->() const { return m_env; }
  JNIEnv* get() const { return m_env; }

 private:
  JavaVM* m_vm;
  JNIEnv* m_env = nullptr;
  bool m_attachedHere = false;
};

}  // namespace

JavaControl::JavaControl() {
  JvmServices* services = JvmServices::acquire();
  if (services == nullptr || services->startJvm() != 1) return;
  JNIEnv* env = nullptr;
  if (services->attach(&env) != JNI_OK) return;
  env->GetJavaVM(&m_vm);
  services->detach();

  Attached java(m_vm);
  JNINativeMethod glueNatives[] = {{const_cast<char*>("addRefs"), const_cast<char*>("(JI)V"),
                                    reinterpret_cast<void*>(&addRefs)}};
  JNINativeMethod floorNatives[] = {{const_cast<char*>("nothing"), const_cast<char*>("(II)V"),
                                     reinterpret_cast<void*>(&nothing)}};
  jclass glue = java->FindClass(kGlueClass);
  jclass floor = glue != nullptr ? java->FindClass(kFloorClass) : nullptr;
  if (floor == nullptr || java->RegisterNatives(glue, glueNatives, 1) != JNI_OK ||
      java->RegisterNatives(floor, floorNatives, 1) != JNI_OK) {
    java->ExceptionDescribe();
    java->ExceptionClear();
    m_vm = nullptr;
  }
}

JavaControl::~JavaControl() { JvmServices::release(); }

void JavaControl::setStaticLong(const char* field, jlong value) {
  Attached java(m_vm);
  jclass glue = java->FindClass(kGlueClass);
  java->SetStaticLongField(glue, java->GetStaticFieldID(glue, field, "J"), value);
  java->DeleteLocalRef(glue);
}

void JavaControl::setInstance(IWbemClassObject* instance) {
  setStaticLong("instance", pointerToJava(instance).value());
}

void JavaControl::setEventObject(IWbemClassObject* event) {
  setStaticLong("eventObject", pointerToJava(event).value());
}

void JavaControl::setEnumerationSize(int count) {
  Attached java(m_vm);
  jclass glue = java->FindClass(kGlueClass);
  java->SetStaticIntField(glue, java->GetStaticFieldID(glue, "enumerationSize", "I"), count);
  java->DeleteLocalRef(glue);
}

void JavaControl::fire(int count) {
  Attached java(m_vm);
  jclass glue = java->FindClass(kGlueClass);
  java->CallStaticVoidMethod(glue, java->GetStaticMethodID(glue, "fire", "(I)V"), count);
  if (java->ExceptionCheck()) java->ExceptionClear();
  java->DeleteLocalRef(glue);
}

}  // namespace velt::host
