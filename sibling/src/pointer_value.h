// WMI interface pointers cross to Java as 32-bit values: sign-extended into a `long` on the way
// in, a plain `int` on the way out. Every conversion between the two worlds goes through here,
// so that no other code needs to know how the bits are laid out.
#pragma once

#include <jni.h>

#include <cstdint>

namespace qelvor {

template <typename Interface>
Interface* pointerFromJava(jlong value) {
  return reinterpret_cast<Interface*>(static_cast<uintptr_t>(static_cast<uint32_t>(value)));
}

// Whether a pointer can be named by 32 bits at all; objects from elsewhere than the WMI
// service's low memory cannot cross.
inline bool fitsJava(const void* pointer) {
  return (reinterpret_cast<uintptr_t>(pointer) >> 16 >> 16) == 0;
}

// The 32-bit value taken as signed and widened, as the provider hands pointers to Java.
inline jlong pointerToJava(const void* pointer) {
  return static_cast<jlong>(
      static_cast<int32_t>(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer))));
}

}  // namespace qelvor
