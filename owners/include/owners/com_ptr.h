// One owner for a COM interface reference. Copies share the object (AddRef), moves and
// detach hand the one reference on, and nothing is released that was not held.
#pragma once

#include <unknwn.h>

#include <utility>

namespace velt {

template <class Interface>
class ComPtr {
 public:
  ComPtr() noexcept = default;
  // Takes over one reference the caller already holds.
  explicit ComPtr(Interface* adopted) noexcept : m_pointer(adopted) {}
  ComPtr(const ComPtr& other) noexcept : m_pointer(other.m_pointer) {
    if (m_pointer != nullptr) m_pointer->AddRef();
  }
  ComPtr(ComPtr&& other) noexcept : m_pointer(std::exchange(other.m_pointer, nullptr)) {}
  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(m_pointer, other.m_pointer);
    return *this;
  }
  ~ComPtr() { reset(); }

  // Holds a reference of its own on an object the caller keeps.
  static ComPtr share(Interface* borrowed) noexcept {
    if (borrowed != nullptr) borrowed->AddRef();
    return ComPtr(borrowed);
  }

  Interface* get() const noexcept { return m_pointer; }
  Interface* operator->() const noexcept { return m_pointer; }
  Interface& operator*() const noexcept { return *m_pointer; }
  explicit operator bool() const noexcept { return m_pointer != nullptr; }

  // For an out-parameter: whatever was held is released first.
  Interface** put() noexcept {
    reset();
    return &m_pointer;
  }
  // The same, for calls that take the interface as void** (QueryInterface, CoCreateInstance).
  void** putVoid() noexcept { return reinterpret_cast<void**>(put()); }
  void reset() noexcept {
    if (Interface* old = std::exchange(m_pointer, nullptr)) old->Release();
  }
  // Hands the reference to the caller, who releases it.
  [[nodiscard]] Interface* detach() noexcept { return std::exchange(m_pointer, nullptr); }

 private:
  Interface* m_pointer = nullptr;
};

}  // namespace velt
