// How WMI interface pointers cross between C++ and Java, for the provider and the sibling
// library alike. Java knows them as 32-bit numbers: a sign-extended long going in, an int or a
// long whose low 32 bits are the pointer coming back. On a 64-bit host a pointer that does not
// fit 32 bits cannot be named that way, and truncating it would hand Java someone else's
// object, so such a pointer is refused instead.
#pragma once

#include <jni.h>

#include <cstdint>
#include <optional>

// The pointer as Java receives it, or nothing when its value needs more than 32 bits.
inline std::optional<jlong> pointerToJava(const void* pointer) {
  auto value = reinterpret_cast<std::uintptr_t>(pointer);
  if (value > UINT32_MAX) return std::nullopt;
  return static_cast<jlong>(static_cast<std::int32_t>(static_cast<std::uint32_t>(value)));
}

// The pointer a Java value names; a jint widens to the same low 32 bits.
template <class Interface>
Interface* pointerFromJava(jlong value) {
  return reinterpret_cast<Interface*>(
      static_cast<std::uintptr_t>(static_cast<std::uint32_t>(value)));
}

// Traced when a pointer cannot cross.
inline constexpr char kPointerTooWideForJava[] =
    "An interface pointer lies above 4 GiB and cannot be passed to Java.";
