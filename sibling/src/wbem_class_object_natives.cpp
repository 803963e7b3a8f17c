// The natives of com.norvex.sysmgt.cim.wmi.wbem.WbemClassObject. Java binds them by their JNI
// names after System.load of this library. Each works on one IWbemClassObject (or, for spawning,
// one IWbemServices) named by its 32-bit pointer value and turns every failed HRESULT into a
// WbemException.
#include <windows.h>

#include <jni.h>
#include <oleauto.h>
#include <wbemcli.h>

#include <cstdint>
#include <optional>

#include <javapointer/java_pointer.h>
#include <owners/com_ptr.h>
#include <owners/owned_variant.h>
#include <owners/unique_handle.h>
#include <qelvor/qelvor.h>

#include "java_text.h"
#include "property_access.h"
#include "wbem_exception.h"

using qelvor::ArrayData;
using qelvor::arrayOf;
using qelvor::describe;
using qelvor::lengthOf;
using qelvor::makeArray;
using qelvor::objectOrThrow;
using qelvor::readValue;
using qelvor::throwWrongType;
using qelvor::writeValue;
using velt::OwnedVariant;
using velt::UniqueBstr;

namespace {

bool integerOf(const VARIANT& v, jlong& out) {
  switch (v.vt) {
    case VT_I1:
      out = v.cVal;
      return true;
    case VT_UI1:
      out = v.bVal;
      return true;
    case VT_I2:
      out = v.iVal;
      return true;
    case VT_UI2:
      out = v.uiVal;
      return true;
    case VT_I4:
      out = v.lVal;
      return true;
    case VT_UI4:
      out = v.ulVal;
      return true;
    case VT_INT:
      out = v.intVal;
      return true;
    case VT_UINT:
      out = v.uintVal;
      return true;
    case VT_I8:
      out = v.llVal;
      return true;
    case VT_UI8:
      out = static_cast<jlong>(v.ullVal);
      return true;
    case VT_BOOL:
      out = v.boolVal != VARIANT_FALSE ? 1 : 0;
      return true;
    default:
      return false;
  }
}

// A Java String[] of the texts of a one-dimensional BSTR array (empty for no array); null with
// the exception pending when Java runs out of memory.
jobjectArray javaStrings(JNIEnv* env, SAFEARRAY* texts) {
  const jsize count = texts == nullptr ? 0 : lengthOf(texts);
  jclass stringClass = env->FindClass("java/lang/String");
  if (stringClass == nullptr) return nullptr;
  jobjectArray result = env->NewObjectArray(count, stringClass, nullptr);
  if (result == nullptr || count == 0) return result;
  ArrayData data(texts);
  for (jsize i = 0; i < count; ++i) {
    jstring element = qelvor::javaFromBstr(env, data.as<BSTR>()[i]);
    if (element == nullptr) return nullptr;
    env->SetObjectArrayElement(result, i, element);
    env->DeleteLocalRef(element);
  }
  return result;
}

// Writes a Java primitive array as a SAFEARRAY of `type`, each element converted by `convert`.
template <typename JavaArray, typename JavaElement, typename Convert>
void putPrimitives(JNIEnv* env, jlong object, jstring name, JavaArray values, VARTYPE type,
                   void (JNIEnv::*region)(JavaArray, jsize, jsize, JavaElement*), Convert convert) {
  OwnedVariant value;
  if (values == nullptr) {
    value.get()->vt = VT_NULL;
  } else {
    const jsize count = env->GetArrayLength(values);
    if (!makeArray(env, value.get(), type, count)) return;
    for (jsize i = 0; i < count; ++i) {
      JavaElement element{};
      (env->*region)(values, i, 1, &element);
      if (env->ExceptionCheck()) return;
      VARIANT slot;
      slot.vt = type;
      slot.llVal = 0;
      convert(element, slot);
      LONG index = i;
      if (FAILED(SafeArrayPutElement(value.get()->parray, &index, &slot.llVal))) {
        qelvor::throwJava(env, "java/lang/OutOfMemoryError", "no memory for a SAFEARRAY");
        return;
      }
    }
  }
  writeValue(env, object, name, value.get());
}

// The namespace's answer to a look-up of the class, made with the WMI call context the provider
// set for this thread; `found` takes the definition it hands back, if any. Nothing, with a Java
// exception pending, when the namespace or the name is unusable.
std::optional<HRESULT> lookUpClass(JNIEnv* env, jlong namespacePointer, jstring className,
                                   velt::ComPtr<IWbemClassObject>& found) {
  auto* services = objectOrThrow<IWbemServices>(env, namespacePointer, "IWbemServices::GetObject");
  if (services == nullptr) return std::nullopt;
  UniqueBstr name(qelvor::bstrFromJava(env, className));
  if (name.get() == nullptr) {
    qelvor::throwJava(env, "java/lang/NullPointerException", "class name is null");
    return std::nullopt;
  }
  return services->GetObject(name.get(), 0, QELVOR_GetThreadWbemContext(), found.put(), nullptr);
}

// One reference on the class definition; null with a WbemException pending when the namespace
// refuses.
IWbemClassObject* fetchClass(JNIEnv* env, jlong namespacePointer, jstring className) {
  velt::ComPtr<IWbemClassObject> classObject;
  std::optional<HRESULT> hr = lookUpClass(env, namespacePointer, className, classObject);
  if (!hr) return nullptr;
  if (FAILED(*hr) || classObject.get() == nullptr) {
    qelvor::throwWbemException(env, describe(env, "IWbemServices::GetObject", className).c_str(),
                               FAILED(*hr) ? *hr : static_cast<HRESULT>(WBEM_E_FAILED));
    return nullptr;
  }
  return classObject.detach();
}

// Hands `object`'s one reference to Java, or releases it and throws when its address cannot
// be named in 32 bits.
jlong handToJava(JNIEnv* env, IWbemClassObject* object, const char* what) {
  std::optional<jlong> value = pointerToJava(object);
  if (!value) {
    object->Release();
    qelvor::throwWbemException(env, what, WBEM_E_OUT_OF_MEMORY);
    return 0;
  }
  return *value;
}

// One reference on a new blank instance spawned from the class definition.
jlong spawnFrom(JNIEnv* env, IWbemClassObject* classObject, jstring className) {
  IWbemClassObject* instance = nullptr;
  HRESULT hr = classObject->SpawnInstance(0, &instance);
  if (FAILED(hr) || instance == nullptr) {
    if (instance != nullptr) instance->Release();
    qelvor::throwWbemException(env,
                               describe(env, "IWbemClassObject::SpawnInstance", className).c_str(),
                               FAILED(hr) ? hr : static_cast<HRESULT>(WBEM_E_FAILED));
    return 0;
  }
  return handToJava(env, instance, "Handing a spawned instance to Java (above 4 GiB)");
}

}  // namespace

extern "C" {

// The value's variant type in the low 16 bits and the property's CIM type in the high ones.
JNIEXPORT jint JNICALL Java_com_norvex_sysmgt_cim_wmi_wbem_WbemClassObject_nTypes(JNIEnv* env,
                                                                                  jclass,
                                                                                  jlong object,
                                                                                  jstring name) {
  OwnedVariant value;
  CIMTYPE type = CIM_EMPTY;
  if (!readValue(env, object, name, value, &type)) return VT_EMPTY;
  return static_cast<jint>((static_cast<uint32_t>(type) << 16) | value.value().vt);
}

JNIEXPORT jstring JNICALL Java_com_norvex_sysmgt_cim_wmi_wbem_WbemClassObject_nGetString(
    JNIEnv* env, jclass, jlong object, jstring name) {
  OwnedVariant value;
  if (!readValue(env, object, name, value)) return nullptr;
  const VARIANT& v = value.value();
  if (v.vt == VT_NULL || v.vt == VT_EMPTY) return nullptr;
  if (v.vt == VT_BSTR) return qelvor::javaFromBstr(env, v.bstrVal);
  OwnedVariant text;
  HRESULT hr = VariantChangeType(text.get(), value.get(), 0, VT_BSTR);
  if (FAILED(hr)) {
    throwWrongType(env, name, "text", v.vt);
    return nullptr;
  }
  return qelvor::javaFromBstr(env, text.value().bstrVal);
}

JNIEXPORT jlong JNICALL Java_com_norvex_sysmgt_cim_wmi_wbem_WbemClassObject_nGetInteger(
    JNIEnv* env, jclass, jlong object, jstring name) {
  OwnedVariant value;
  if (!readValue(env, object, name, value)) return 0;
  jlong result = 0;
  if (!integerOf(value.value(), result)) throwWrongType(env, name, "an integer", value.value().vt);
  return result;
}

JNIEXPORT jboolean JNICALL Java_com_norvex_sysmgt_cim_wmi_wbem_WbemClassObject_nGetBoolean(
    JNIEnv* env, jclass, jlong object, jstring name) {
  OwnedVariant value;
  if (!readValue(env, object, name, value)) return JNI_FALSE;
  jlong result = 0;
  if (!integerOf(value.value(), result)) throwWrongType(env, name, "a boolean", value.value().vt);
  return result != 0 ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT jdouble JNICALL Java_com_norvex_sysmgt_cim_wmi_wbem_WbemClassObject_nGetDouble(
    JNIEnv* env, jclass, jlong object, jstring name) {
  OwnedVariant value;
  if (!readValue(env, object, name, value)) return 0;
  const VARIANT& v = value.value();
  if (v.vt == VT_R8) return v.dblVal;
  if (v.vt == VT_R4) return v.fltVal;
  jlong integer = 0;
  if (integerOf(v, integer)) return static_cast<jdouble>(integer);
  throwWrongType(env, name, "a number", v.vt);
  return 0;
}

JNIEXPORT jobjectArray JNICALL Java_com_norvex_sysmgt_cim_wmi_wbem_WbemClassObject_nGetStrings(
    JNIEnv* env, jclass, jlong object, jstring name) {
  OwnedVariant value;
  if (!readValue(env, object, name, value)) return nullptr;
  const VARIANT& v = value.value();
  if (v.vt == VT_NULL || v.vt == VT_EMPTY) return nullptr;
  if (v.vt != (VT_ARRAY | VT_BSTR) || v.parray == nullptr) {
    throwWrongType(env, name, "an array of text", v.vt);
    return nullptr;
  }
  return javaStrings(env, v.parray);
}

JNIEXPORT jlongArray JNICALL Java_com_norvex_sysmgt_cim_wmi_wbem_WbemClassObject_nGetIntegers(
    JNIEnv* env, jclass, jlong object, jstring name) {
  OwnedVariant value;
  if (!readValue(env, object, name, value)) return nullptr;
  const VARIANT& v = value.value();
  if (v.vt == VT_NULL || v.vt == VT_EMPTY) return nullptr;
  if ((v.vt & VT_ARRAY) == 0 || v.parray == nullptr) {
    throwWrongType(env, name, "an array of integers", v.vt);
    return nullptr;
  }
  const jsize count = lengthOf(v.parray);
  jlongArray result = env->NewLongArray(count);
  if (result == nullptr) return nullptr;
  for (LONG i = 0; i < count; ++i) {
    OwnedVariant element;
    element.get()->vt = static_cast<VARTYPE>(v.vt & ~VT_ARRAY);
    // Elements are read one by one into a VARIANT of the array's type, so every integer
    // width shares the one conversion.
    LONG index = i;
    if (element.get()->vt == VT_BSTR || element.get()->vt == VT_VARIANT ||
        FAILED(SafeArrayGetElement(v.parray, &index, &element.get()->lVal))) {
      element.get()->vt = VT_EMPTY;
      throwWrongType(env, name, "an array of integers", v.vt);
      return nullptr;
    }
    jlong number = 0;
    if (!integerOf(element.value(), number)) {
      throwWrongType(env, name, "an array of integers", v.vt);
      return nullptr;
    }
    env->SetLongArrayRegion(result, i, 1, &number);
  }
  return result;
}

JNIEXPORT void JNICALL Java_com_norvex_sysmgt_cim_wmi_wbem_WbemClassObject_nPutString(
    JNIEnv* env, jclass, jlong object, jstring name, jstring text) {
  OwnedVariant value;
  if (text == nullptr) {
    value.get()->vt = VT_NULL;
  } else {
    BSTR wide = qelvor::bstrFromJava(env, text);
    if (wide == nullptr) return;
    value.get()->vt = VT_BSTR;
    value.get()->bstrVal = wide;
  }
  writeValue(env, object, name, value.get());
}

JNIEXPORT void JNICALL Java_com_norvex_sysmgt_cim_wmi_wbem_WbemClassObject_nPutInt(
    JNIEnv* env, jclass, jlong object, jstring name, jint number) {
  OwnedVariant value;
  value.get()->vt = VT_I4;
  value.get()->lVal = number;
  writeValue(env, object, name, value.get());
}

JNIEXPORT void JNICALL Java_com_norvex_sysmgt_cim_wmi_wbem_WbemClassObject_nPutBoolean(
    JNIEnv* env, jclass, jlong object, jstring name, jboolean flag) {
  OwnedVariant value;
  value.get()->vt = VT_BOOL;
  value.get()->boolVal = flag ? VARIANT_TRUE : VARIANT_FALSE;
  writeValue(env, object, name, value.get());
}

JNIEXPORT void JNICALL Java_com_norvex_sysmgt_cim_wmi_wbem_WbemClassObject_nPutDouble(
    JNIEnv* env, jclass, jlong object, jstring name, jdouble number) {
  OwnedVariant value;
  value.get()->vt = VT_R8;
  value.get()->dblVal = number;
  writeValue(env, object, name, value.get());
}

JNIEXPORT void JNICALL Java_com_norvex_sysmgt_cim_wmi_wbem_WbemClassObject_nPutStrings(
    JNIEnv* env, jclass, jlong object, jstring name, jobjectArray texts) {
  OwnedVariant value;
  const jsize count = texts == nullptr ? 0 : env->GetArrayLength(texts);
  if (texts == nullptr) {
    value.get()->vt = VT_NULL;
  } else if (!makeArray(env, value.get(), VT_BSTR, count)) {
    return;
  } else {
    ArrayData data(value.get()->parray);
    for (jsize i = 0; i < count; ++i) {
      auto element = static_cast<jstring>(env->GetObjectArrayElement(texts, i));
      if (env->ExceptionCheck()) return;
      if (element == nullptr) {
        qelvor::throwJava(env, "java/lang/NullPointerException",
                          "a text array written to a property holds null");
        return;
      }
      data.as<BSTR>()[i] = qelvor::bstrFromJava(env, element);
      env->DeleteLocalRef(element);
      if (env->ExceptionCheck()) return;
    }
  }
  writeValue(env, object, name, value.get());
}

// Integers of any width but 64 bits, as a SAFEARRAY of `type` (VT_I2, VT_UI1 or VT_I4); the
// caller has checked that each value fits the property.
JNIEXPORT void JNICALL Java_com_norvex_sysmgt_cim_wmi_wbem_WbemClassObject_nPutIntegers(
    JNIEnv* env, jclass, jlong object, jstring name, jlongArray numbers, jint type) {
  putPrimitives(env, object, name, numbers, static_cast<VARTYPE>(type), &JNIEnv::GetLongArrayRegion,
                [](jlong number, VARIANT& slot) {
                  if (slot.vt == VT_I2) slot.iVal = static_cast<SHORT>(number);
                  if (slot.vt == VT_UI1) slot.bVal = static_cast<BYTE>(number);
                  if (slot.vt == VT_I4) slot.lVal = static_cast<LONG>(number);
                });
}

JNIEXPORT void JNICALL Java_com_norvex_sysmgt_cim_wmi_wbem_WbemClassObject_nPutBooleans(
    JNIEnv* env, jclass, jlong object, jstring name, jbooleanArray flags) {
  putPrimitives(
      env, object, name, flags, VT_BOOL, &JNIEnv::GetBooleanArrayRegion,
      [](jboolean flag, VARIANT& slot) { slot.boolVal = flag ? VARIANT_TRUE : VARIANT_FALSE; });
}

// Reals as a SAFEARRAY of `type` (VT_R4 or VT_R8).
JNIEXPORT void JNICALL Java_com_norvex_sysmgt_cim_wmi_wbem_WbemClassObject_nPutDoubles(
    JNIEnv* env, jclass, jlong object, jstring name, jdoubleArray numbers, jint type) {
  putPrimitives(env, object, name, numbers, static_cast<VARTYPE>(type),
                &JNIEnv::GetDoubleArrayRegion, [](jdouble number, VARIANT& slot) {
                  if (slot.vt == VT_R4) slot.fltVal = static_cast<float>(number);
                  if (slot.vt == VT_R8) slot.dblVal = number;
                });
}

JNIEXPORT jbooleanArray JNICALL Java_com_norvex_sysmgt_cim_wmi_wbem_WbemClassObject_nGetBooleans(
    JNIEnv* env, jclass, jlong object, jstring name) {
  OwnedVariant value;
  if (!readValue(env, object, name, value)) return nullptr;
  bool isNull = false;
  SAFEARRAY* array = arrayOf(env, name, value.value(), "an array of booleans", {VT_BOOL}, isNull);
  if (array == nullptr) return nullptr;
  const jsize count = lengthOf(array);
  jbooleanArray result = env->NewBooleanArray(count);
  if (result == nullptr || count == 0) return result;
  ArrayData data(array);
  for (jsize i = 0; i < count; ++i) {
    jboolean flag = data.as<VARIANT_BOOL>()[i] != VARIANT_FALSE ? JNI_TRUE : JNI_FALSE;
    env->SetBooleanArrayRegion(result, i, 1, &flag);
  }
  return result;
}

JNIEXPORT jdoubleArray JNICALL Java_com_norvex_sysmgt_cim_wmi_wbem_WbemClassObject_nGetDoubles(
    JNIEnv* env, jclass, jlong object, jstring name) {
  OwnedVariant value;
  if (!readValue(env, object, name, value)) return nullptr;
  bool isNull = false;
  SAFEARRAY* array = arrayOf(env, name, value.value(), "an array of reals", {VT_R4, VT_R8}, isNull);
  if (array == nullptr) return nullptr;
  const jsize count = lengthOf(array);
  jdoubleArray result = env->NewDoubleArray(count);
  if (result == nullptr || count == 0) return result;
  const bool single = value.value().vt == (VT_ARRAY | VT_R4);
  ArrayData data(array);
  for (jsize i = 0; i < count; ++i) {
    jdouble number = single ? data.as<float>()[i] : data.as<double>()[i];
    env->SetDoubleArrayRegion(result, i, 1, &number);
  }
  return result;
}

// Whether the namespace knows the class: false for WBEM_E_NOT_FOUND and WBEM_E_INVALID_CLASS,
// a WbemException for any other failure.
JNIEXPORT jboolean JNICALL Java_com_norvex_sysmgt_cim_wmi_wbem_WbemClassObject_nClassExists(
    JNIEnv* env, jclass, jlong namespacePointer, jstring className) {
  velt::ComPtr<IWbemClassObject> classObject;
  std::optional<HRESULT> hr = lookUpClass(env, namespacePointer, className, classObject);
  if (!hr) return JNI_FALSE;
  if (SUCCEEDED(*hr)) return JNI_TRUE;
  if (*hr == static_cast<HRESULT>(WBEM_E_NOT_FOUND) ||
      *hr == static_cast<HRESULT>(WBEM_E_INVALID_CLASS)) {
    return JNI_FALSE;
  }
  qelvor::throwWbemException(env, describe(env, "IWbemServices::GetObject", className).c_str(),
                             *hr);
  return JNI_FALSE;
}

JNIEXPORT jobjectArray JNICALL Java_com_norvex_sysmgt_cim_wmi_wbem_WbemClassObject_nNames(
    JNIEnv* env, jclass, jlong pointer, jboolean keysOnly) {
  auto* object = objectOrThrow<IWbemClassObject>(env, pointer, "IWbemClassObject::GetNames");
  if (object == nullptr) return nullptr;
  SAFEARRAY* names = nullptr;
  const LONG flags = keysOnly ? WBEM_FLAG_KEYS_ONLY : WBEM_FLAG_NONSYSTEM_ONLY;
  HRESULT hr = object->GetNames(nullptr, flags, nullptr, &names);
  if (FAILED(hr)) {
    qelvor::throwWbemException(env, "IWbemClassObject::GetNames", hr);
    return nullptr;
  }
  OwnedVariant owner;  // frees the array on every way out
  owner.get()->vt = VT_ARRAY | VT_BSTR;
  owner.get()->parray = names;
  return javaStrings(env, names);
}

// One reference on a new blank instance of the class, fetched with the WMI call context the
// provider set for this thread.
JNIEXPORT jlong JNICALL Java_com_norvex_sysmgt_cim_wmi_wbem_WbemClassObject_nSpawnInstance(
    JNIEnv* env, jclass, jlong namespacePointer, jstring className) {
  IWbemClassObject* classObject = fetchClass(env, namespacePointer, className);
  if (classObject == nullptr) return 0;
  jlong instance = spawnFrom(env, classObject, className);
  classObject->Release();
  return instance;
}

// One reference on the class definition, for spawning many instances from one fetch.
JNIEXPORT jlong JNICALL Java_com_norvex_sysmgt_cim_wmi_wbem_WbemClassObject_nGetClass(
    JNIEnv* env, jclass, jlong namespacePointer, jstring className) {
  IWbemClassObject* classObject = fetchClass(env, namespacePointer, className);
  if (classObject == nullptr) return 0;
  return handToJava(env, classObject, "Handing a class definition to Java (above 4 GiB)");
}

// One reference on a new blank instance of a class definition Java holds; the name is for the
// message of a failure.
JNIEXPORT jlong JNICALL Java_com_norvex_sysmgt_cim_wmi_wbem_WbemClassObject_nSpawnFrom(
    JNIEnv* env, jclass, jlong classPointer, jstring className) {
  auto* classObject =
      objectOrThrow<IWbemClassObject>(env, classPointer, "IWbemClassObject::SpawnInstance");
  if (classObject == nullptr) return 0;
  return spawnFrom(env, classObject, className);
}

JNIEXPORT jint JNICALL Java_com_norvex_sysmgt_cim_wmi_wbem_WbemClassObject_nAddRef(JNIEnv* env,
                                                                                   jclass,
                                                                                   jlong pointer) {
  auto* object = objectOrThrow<IUnknown>(env, pointer, "IUnknown::AddRef");
  return object == nullptr ? 0 : static_cast<jint>(object->AddRef());
}

JNIEXPORT jint JNICALL Java_com_norvex_sysmgt_cim_wmi_wbem_WbemClassObject_nRelease(JNIEnv* env,
                                                                                    jclass,
                                                                                    jlong pointer) {
  auto* object = objectOrThrow<IUnknown>(env, pointer, "IUnknown::Release");
  return object == nullptr ? 0 : static_cast<jint>(object->Release());
}

}  // extern "C"
