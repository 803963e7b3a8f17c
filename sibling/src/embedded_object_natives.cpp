// The natives of WbemClassObject for embedded objects: a property of CIM type object holds an
// IWbemClassObject in a VT_UNKNOWN, an array of them a SAFEARRAY of VT_UNKNOWN. Java receives
// each embedded object as a pointer value carrying one reference of its own, which its wrapper
// releases; writing one adds the property's own reference and leaves the caller's alone.
#include <windows.h>

#include <jni.h>
#include <oleauto.h>
#include <wbemcli.h>

#include <optional>
#include <vector>

#include <javapointer/java_pointer.h>
#include <owners/com_ptr.h>
#include <owners/owned_variant.h>

#include "property_access.h"
#include "wbem_exception.h"

using qelvor::ArrayData;
using qelvor::arrayOf;
using qelvor::lengthOf;
using qelvor::makeArray;
using qelvor::readValue;
using qelvor::throwWrongType;
using qelvor::writeValue;
using velt::ComPtr;
using velt::OwnedVariant;

namespace {

// One reference on the element as an IWbemClassObject; false with a ClassCastException
// pending when it is some other COM object, which no property of type object can hold.
bool embeddedObject(JNIEnv* env, jstring name, IUnknown* element,
                    ComPtr<IWbemClassObject>& object) {
  if (element != nullptr &&
      SUCCEEDED(element->QueryInterface(IID_IWbemClassObject, object.putVoid()))) {
    return true;
  }
  throwWrongType(env, name, "an embedded object", VT_UNKNOWN);
  return false;
}

// The pointer value Java knows the object by; nothing, with a WbemException pending, for an
// object above 4 GiB.
std::optional<jlong> javaPointer(JNIEnv* env, IWbemClassObject* object) {
  std::optional<jlong> value = pointerToJava(object);
  if (!value) {
    qelvor::throwWbemException(env, "Handing an embedded object to Java (above 4 GiB)",
                               WBEM_E_OUT_OF_MEMORY);
  }
  return value;
}

}  // namespace

extern "C" {

// 0 for a null value.
JNIEXPORT jlong JNICALL Java_com_norvex_sysmgt_cim_wmi_wbem_WbemClassObject_nGetObject(
    JNIEnv* env, jclass, jlong object, jstring name) {
  OwnedVariant value;
  if (!readValue(env, object, name, value)) return 0;
  const VARIANT& v = value.value();
  if (v.vt == VT_NULL || v.vt == VT_EMPTY) return 0;
  if (v.vt != VT_UNKNOWN && v.vt != VT_DISPATCH) {
    throwWrongType(env, name, "an embedded object", v.vt);
    return 0;
  }
  ComPtr<IWbemClassObject> embedded;
  if (!embeddedObject(env, name, v.punkVal, embedded)) return 0;
  std::optional<jlong> pointer = javaPointer(env, embedded.get());
  if (!pointer) return 0;
  (void)embedded.detach();  // Java's wrapper owns it now
  return *pointer;
}

// Null for a null value. Every reference is taken before Java sees any, so a failure part way
// leaves none behind.
JNIEXPORT jlongArray JNICALL Java_com_norvex_sysmgt_cim_wmi_wbem_WbemClassObject_nGetObjects(
    JNIEnv* env, jclass, jlong object, jstring name) {
  OwnedVariant value;
  if (!readValue(env, object, name, value)) return nullptr;
  bool isNull = false;
  SAFEARRAY* array = arrayOf(env, name, value.value(), "an array of embedded objects",
                             {VT_UNKNOWN, VT_DISPATCH}, isNull);
  if (array == nullptr) return nullptr;
  const jsize count = lengthOf(array);
  std::vector<ComPtr<IWbemClassObject>> elements(static_cast<size_t>(count));
  std::vector<jlong> pointers;
  if (count > 0) {
    ArrayData data(array);
    for (jsize i = 0; i < count; ++i) {
      if (!embeddedObject(env, name, data.as<IUnknown*>()[i], elements[i])) return nullptr;
      std::optional<jlong> pointer = javaPointer(env, elements[i].get());
      if (!pointer) return nullptr;
      pointers.push_back(*pointer);
    }
  }
  jlongArray result = env->NewLongArray(count);
  if (result == nullptr) return nullptr;
  if (count > 0) {
    env->SetLongArrayRegion(result, 0, count, pointers.data());
    if (env->ExceptionCheck()) return nullptr;
  }
  for (auto& element : elements) (void)element.detach();  // each wrapper owns its own
  return result;
}

// `embedded` 0 writes a null value.
JNIEXPORT void JNICALL Java_com_norvex_sysmgt_cim_wmi_wbem_WbemClassObject_nPutObject(
    JNIEnv* env, jclass, jlong object, jstring name, jlong embedded) {
  OwnedVariant value;
  if (embedded == 0) {
    value.get()->vt = VT_NULL;
  } else {
    IUnknown* element = pointerFromJava<IWbemClassObject>(embedded);
    element->AddRef();  // the VARIANT's own, released when it is cleared
    value.get()->vt = VT_UNKNOWN;
    value.get()->punkVal = element;
  }
  writeValue(env, object, name, value.get());
}

// Null writes a null value; no element may be 0, as a WMI array holds no null elements.
JNIEXPORT void JNICALL Java_com_norvex_sysmgt_cim_wmi_wbem_WbemClassObject_nPutObjects(
    JNIEnv* env, jclass, jlong object, jstring name, jlongArray embedded) {
  OwnedVariant value;
  if (embedded == nullptr) {
    value.get()->vt = VT_NULL;
    writeValue(env, object, name, value.get());
    return;
  }
  const jsize count = env->GetArrayLength(embedded);
  std::vector<jlong> pointers(static_cast<size_t>(count));
  if (count > 0) {
    env->GetLongArrayRegion(embedded, 0, count, pointers.data());
    if (env->ExceptionCheck()) return;
  }
  if (!makeArray(env, value.get(), VT_UNKNOWN, count)) return;
  for (jsize i = 0; i < count; ++i) {
    if (pointers[i] == 0) {
      qelvor::throwJava(env, "java/lang/NullPointerException",
                        "an object array written to a property holds null");
      return;
    }
    IUnknown* element = pointerFromJava<IWbemClassObject>(pointers[i]);
    LONG index = i;
    // The array takes a reference of its own on each element, released with the array.
    if (FAILED(SafeArrayPutElement(value.get()->parray, &index, element))) {
      qelvor::throwJava(env, "java/lang/OutOfMemoryError", "no memory for a SAFEARRAY");
      return;
    }
  }
  writeValue(env, object, name, value.get());
}

}  // extern "C"
