// One owner for every resource that is a plain value with a function that gives it back: the
// value is given back exactly once, when the owner goes or is reset, and never when it was
// never held. Each kind of resource is one line below.
#pragma once

#include <windows.h>

#include <oleauto.h>

#include <utility>

namespace velt {

// Most handles are empty when null.
struct NullIsEmpty {
  template <class Handle>
  static Handle value() noexcept {
    return nullptr;
  }
};

// File searches report failure as INVALID_HANDLE_VALUE, never as null.
struct InvalidHandleIsEmpty {
  template <class Handle>
  static Handle value() noexcept {
    return INVALID_HANDLE_VALUE;
  }
};

template <class Handle, auto Close, class Empty = NullIsEmpty>
class UniqueHandle {
 public:
  UniqueHandle() noexcept = default;
  explicit UniqueHandle(Handle owned) noexcept : m_value(owned) {}
  UniqueHandle(UniqueHandle&& other) noexcept : m_value(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { reset(); }

  Handle get() const noexcept { return m_value; }
  explicit operator bool() const noexcept { return m_value != empty(); }
  // For an out-parameter: whatever was held is given back first.
  Handle* put() noexcept {
    reset();
    return &m_value;
  }
  void reset(Handle value = empty()) noexcept {
    Handle old = std::exchange(m_value, value);
    if (old != empty()) Close(old);
  }
  // Hands the value to the caller, who gives it back.
  [[nodiscard]] Handle release() noexcept { return std::exchange(m_value, empty()); }

 private:
  static Handle empty() noexcept { return Empty::template value<Handle>(); }

  Handle m_value = empty();
};

using UniqueRegistryKey = UniqueHandle<HKEY, &::RegCloseKey>;
using UniqueModule = UniqueHandle<HMODULE, &::FreeLibrary>;
using UniqueFindHandle = UniqueHandle<HANDLE, &::FindClose, InvalidHandleIsEmpty>;
using UniqueBstr = UniqueHandle<BSTR, &::SysFreeString>;
using UniqueSafeArray = UniqueHandle<SAFEARRAY*, &::SafeArrayDestroy>;

}  // namespace velt
