// Reference-counted COM objects that live in the low arena and count themselves, so that a
// test can prove that every object the service handed out came back.
#pragma once

#include <atomic>
#include <new>

#include <unknwn.h>

#include "wmi_model/low_arena.h"

namespace velt::wmi::detail {

std::atomic<long>& liveObjects();

class ArenaAllocated {
 public:
  static void* operator new(std::size_t bytes) {
    if (void* p = lowArenaAllocate(bytes)) return p;
    throw std::bad_alloc();
  }
  static void operator delete(void* p, std::size_t bytes) { lowArenaFree(p, bytes); }
};

template <class Interface, const IID& kInterfaceId>
class ComObject : public ArenaAllocated, public Interface {
 public:
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == kInterfaceId) {
      *out = static_cast<Interface*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

 protected:
  ComObject() { ++liveObjects(); }
  virtual ~ComObject() { --liveObjects(); }

 private:
  std::atomic<ULONG> refs_{1};
};

// Owns one reference.
template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  explicit ComPtr(T* adopted) : p_(adopted) {}
  ComPtr(const ComPtr& o) : p_(o.p_) {
    if (p_) p_->AddRef();
  }
  ComPtr(ComPtr&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
  ComPtr& operator=(ComPtr o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  ~ComPtr() {
    if (p_) p_->Release();
  }
  static ComPtr share(T* p) {
    if (p) p->AddRef();
    return ComPtr(p);
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  T** put() {
    *this = ComPtr();
    return &p_;
  }
  T* detach() {
    T* p = p_;
    p_ = nullptr;
    return p;
  }

 private:
  T* p_ = nullptr;
};

}  // namespace velt::wmi::detail
