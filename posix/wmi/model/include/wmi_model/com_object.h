// Reference-counted COM objects that live in the low arena and count themselves, so that a
// test can prove that every object the service handed out came back.
#pragma once

#include <atomic>
#include <new>

#include <owners/com_ptr.h>

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
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --m_refs;
    if (left == 0) delete this;
    return left;
  }

 protected:
  ComObject() { ++liveObjects(); }
  virtual ~ComObject() { --liveObjects(); }

 private:
  std::atomic<ULONG> m_refs{1};
};

}  // namespace velt::wmi::detail
