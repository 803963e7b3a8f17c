// What every native of WbemClassObject shares: the object behind a Java pointer value, one
// property read or written with its failure turned into a Java exception, and the SAFEARRAY
// plumbing of array values.
#pragma once

#include <windows.h>

#include <jni.h>
#include <oleauto.h>
#include <wbemcli.h>

#include <initializer_list>
#include <string>

#include <javapointer/java_pointer.h>
#include <owners/owned_variant.h>
#include <owners/unique_handle.h>

#include "wbem_exception.h"

namespace qelvor {

// "<operation>(<name>)" for the exception text.
std::string describe(JNIEnv* env, const char* operation, jstring name);

// The object, or null with a NullPointerException pending.
template <typename Interface>
Interface* objectOrThrow(JNIEnv* env, jlong pointer, const char* operation) {
  auto* object = pointerFromJava<Interface>(pointer);
  if (object == nullptr) {
    std::string text = std::string(operation) + " on no object";
    throwJava(env, "java/lang/NullPointerException", text.c_str());
  }
  return object;
}

// The property's value (and CIM type); false with a Java exception pending when it cannot be
// read.
bool readValue(JNIEnv* env, jlong pointer, jstring name, velt::OwnedVariant& value,
               CIMTYPE* type = nullptr);

// Hands the VARIANT to Put; `value` is left for its holder to clear.
void writeValue(JNIEnv* env, jlong pointer, jstring name, VARIANT* value);

// A ClassCastException saying the property's value is not `wanted`.
void throwWrongType(JNIEnv* env, jstring name, const char* wanted, VARTYPE actual);

// Locks a one-dimensional SAFEARRAY's elements for reading or writing.
class ArrayData {
 public:
  explicit ArrayData(SAFEARRAY* array) : m_array(array) {
    if (FAILED(SafeArrayAccessData(array, &m_data))) m_data = nullptr;
  }
  ~ArrayData() {
    if (m_data != nullptr) SafeArrayUnaccessData(m_array);
  }
  ArrayData(const ArrayData&) = delete;
  ArrayData& operator=(const ArrayData&) = delete;
  template <typename T>
  T* as() const {
    return static_cast<T*>(m_data);
  }

 private:
  SAFEARRAY* m_array;
  void* m_data = nullptr;
};

// The element count of a one-dimensional SAFEARRAY.
jsize lengthOf(SAFEARRAY* array);

// Makes `value` an empty array of `count` elements of `type`; false with an OutOfMemoryError
// pending when there is no memory for it.
bool makeArray(JNIEnv* env, VARIANT* value, VARTYPE type, jsize count);

// The SAFEARRAY of an array value whose elements are of one of `types`; null, with
// `isNull` set, for a null value; null with a ClassCastException pending for any other value.
SAFEARRAY* arrayOf(JNIEnv* env, jstring name, const VARIANT& v, const char* wanted,
                   std::initializer_list<VARTYPE> types, bool& isNull);

}  // namespace qelvor
