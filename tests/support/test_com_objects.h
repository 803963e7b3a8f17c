// Minimal COM objects whose reference counts the tests can watch.
#pragma once

#include <objbase.h>
#include <windows.h>

#include <atomic>

inline std::atomic<int> liveTestObjects{0};
inline std::atomic<DWORD> lastObjectGoneNotify{0};  // thread to post WM_QUIT to, if any

class TestObject final : public IUnknown {
 public:
  TestObject() { ++liveTestObjects; }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!IsEqualIID(iid, IID_IUnknown)) {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    *out = this;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --m_refs;
    if (left == 0) {
      delete this;
      if (--liveTestObjects == 0 && lastObjectGoneNotify != 0) {
        PostThreadMessageA(lastObjectGoneNotify, WM_QUIT, 0, 0);
      }
    }
    return left;
  }

 private:
  ~TestObject() = default;
  std::atomic<ULONG> m_refs{1};
};

class TestFactory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory)) {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    *out = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }  // lives on the stack
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    *out = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    auto* object = new TestObject;
    HRESULT hr = object->QueryInterface(iid, out);
    object->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

  std::atomic<ULONG> refs{1};
};

DEFINE_GUID(CLSID_TestClass, 0x3f2a1b4c, 0x5d6e, 0x4f70, 0x81, 0x92, 0xa3, 0xb4, 0xc5, 0xd6, 0xe7,
            0xf8);
DEFINE_GUID(CLSID_OtherTestClass, 0x0a0b0c0d, 0x1122, 0x3344, 0x55, 0x66, 0x77, 0x88, 0x99, 0xaa,
            0xbb, 0xcc);
