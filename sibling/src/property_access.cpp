#include "property_access.h"

#include <wbemcli.h>

#include <cstdio>

#include "java_text.h"

using velt::OwnedVariant;
using velt::UniqueBstr;

namespace qelvor {
namespace {

// The property name as a BSTR; false with a NullPointerException pending when there is none.
bool propertyName(JNIEnv* env, jstring name, UniqueBstr& wideName) {
  wideName.reset(bstrFromJava(env, name));
  if (wideName.get() != nullptr) return true;
  throwJava(env, "java/lang/NullPointerException", "property name is null");
  return false;
}

}  // namespace

// The name is read as modified UTF-8, which is exact for every name a MOF can declare.
std::string describe(JNIEnv* env, const char* operation, jstring name) {
  std::string text = operation;
  if (name == nullptr) return text;
  const char* characters = env->GetStringUTFChars(name, nullptr);
  if (characters == nullptr) {
    env->ExceptionClear();
    return text;
  }
  text += "(";
  text += characters;
  text += ")";
  env->ReleaseStringUTFChars(name, characters);
  return text;
}

bool readValue(JNIEnv* env, jlong pointer, jstring name, OwnedVariant& value, CIMTYPE* type) {
  auto* object = objectOrThrow<IWbemClassObject>(env, pointer, "IWbemClassObject::Get");
  if (object == nullptr) return false;
  UniqueBstr wideName;
  if (!propertyName(env, name, wideName)) return false;
  HRESULT hr = object->Get(wideName.get(), 0, value.get(), type, nullptr);
  if (FAILED(hr)) {
    throwWbemException(env, describe(env, "IWbemClassObject::Get", name).c_str(), hr);
    return false;
  }
  return true;
}

void writeValue(JNIEnv* env, jlong pointer, jstring name, VARIANT* value) {
  auto* object = objectOrThrow<IWbemClassObject>(env, pointer, "IWbemClassObject::Put");
  if (object == nullptr) return;
  UniqueBstr wideName;
  if (!propertyName(env, name, wideName)) return;
  HRESULT hr = object->Put(wideName.get(), 0, value, 0);
  if (FAILED(hr)) {
    throwWbemException(env, describe(env, "IWbemClassObject::Put", name).c_str(), hr);
  }
}

void throwWrongType(JNIEnv* env, jstring name, const char* wanted, VARTYPE actual) {
  // snprintf rather than std::to_string: the latter's tables are unique symbols, which would
  // pin this library in memory and stop the server from unloading it.
  char type[16];
  std::snprintf(type, sizeof type, "%u", static_cast<unsigned>(actual));
  std::string text = describe(env, "Reading property", name) + " as " + wanted +
                     ": the value has variant type " + type;
  throwJava(env, "java/lang/ClassCastException", text.c_str());
}

jsize lengthOf(SAFEARRAY* array) {
  LONG lower = 0, upper = -1;
  if (FAILED(SafeArrayGetLBound(array, 1, &lower)) ||
      FAILED(SafeArrayGetUBound(array, 1, &upper))) {
    return 0;
  }
  return static_cast<jsize>(upper - lower + 1);
}

bool makeArray(JNIEnv* env, VARIANT* value, VARTYPE type, jsize count) {
  SAFEARRAY* array = SafeArrayCreateVector(type, 0, static_cast<ULONG>(count));
  if (array == nullptr) {
    throwJava(env, "java/lang/OutOfMemoryError", "no memory for a SAFEARRAY");
    return false;
  }
  value->vt = VT_ARRAY | type;
  value->parray = array;
  return true;
}

SAFEARRAY* arrayOf(JNIEnv* env, jstring name, const VARIANT& v, const char* wanted,
                   std::initializer_list<VARTYPE> types, bool& isNull) {
  isNull = v.vt == VT_NULL || v.vt == VT_EMPTY;
  if (isNull) return nullptr;
  for (VARTYPE type : types) {
    if (v.vt == (VT_ARRAY | type) && v.parray != nullptr) return v.parray;
  }
  throwWrongType(env, name, wanted, v.vt);
  return nullptr;
}

}  // namespace qelvor
