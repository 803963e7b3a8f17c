#include "server/unknown.h"

#include "server/factory.h"
#include "trace/trace.h"

LONG CUnknown::sm_activeComponents = 0;

CUnknown::CUnknown(IUnknown* pOuter) : m_refCount(1), m_pOuter(nullptr), m_innerUnknown(this) {
  m_pOuter = pOuter != nullptr ? pOuter : &m_innerUnknown;
  InterlockedIncrement(&sm_activeComponents);
}

CUnknown::~CUnknown() {
  InterlockedDecrement(&sm_activeComponents);
  if (CFactory::CanUnloadNow() == S_OK) {
    PostThreadMessageA(CFactory::sm_mainThreadId, WM_QUIT, 0, 0);
  }
}

HRESULT STDMETHODCALLTYPE CUnknown::InnerQueryInterface(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  if (iid == IID_IUnknown) return FinishQueryInterface(&m_innerUnknown, out);
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CUnknown::InnerAddRef() {
  return static_cast<ULONG>(InterlockedIncrement(&m_refCount));
}

ULONG STDMETHODCALLTYPE CUnknown::InnerRelease() {
  // Only the thread whose decrement reaches zero deletes.
  LONG remaining = InterlockedDecrement(&m_refCount);
  if (remaining != 0) return static_cast<ULONG>(remaining);
  trace("CUnknown", "Reference count has gone to zero, deleting", 0);
  PrepareForDelete();
  delete this;
  return 0;
}

HRESULT CUnknown::InitComponent() { return S_OK; }

void CUnknown::PrepareForDelete() { InterlockedExchange(&m_refCount, 1); }

HRESULT CUnknown::FinishQueryInterface(IUnknown* pInterface, void** out) {
  *out = pInterface;
  pInterface->AddRef();
  return S_OK;
}
