// Reference-counted base of every component. It also counts the live components of the process,
// which with the server locks decides when the server may stop.
#pragma once

#include <windows.h>

#include <unknwn.h>

class CUnknown {
 public:
  // The object's inner (non-delegating) unknown, in IUnknown's slot order.
  virtual HRESULT STDMETHODCALLTYPE InnerQueryInterface(REFIID iid, void** out);
  virtual ULONG STDMETHODCALLTYPE InnerAddRef();
  virtual ULONG STDMETHODCALLTYPE InnerRelease();
  virtual ~CUnknown();
  // Second-stage initialisation, run by the factory right after creation.
  virtual HRESULT InitComponent();
  // Run just before deletion: AddRef/Release pairs made while the object is being destroyed
  // must not start a second deletion.
  virtual void PrepareForDelete();

  explicit CUnknown(IUnknown* pOuter);
  CUnknown(const CUnknown&) = delete;
  CUnknown& operator=(const CUnknown&) = delete;

  // The inner unknown as a real IUnknown: what an aggregating outer object holds.
  IUnknown* GetInnerUnknown() { return &m_innerUnknown; }

  static LONG sm_activeComponents;

 protected:
  // Hands out `pInterface` through `out` with one reference taken through that interface.
  static HRESULT FinishQueryInterface(IUnknown* pInterface, void** out);

  LONG m_refCount;
  // Where the interface parts of a derived component send their IUnknown calls: the outer
  // unknown when aggregated, otherwise this object's own inner unknown.
  IUnknown* m_pOuter;

 private:
  // Forwards IUnknown's three operations to the owner's inner ones. A distinct object rather
  // than a reinterpretation of the CUnknown itself, so the call goes to a genuine IUnknown.
  class InnerUnknown final : public IUnknown {
   public:
    explicit InnerUnknown(CUnknown* owner) : m_owner(owner) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
      return m_owner->InnerQueryInterface(iid, out);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return m_owner->InnerAddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return m_owner->InnerRelease(); }

   private:
    CUnknown* m_owner;
  };
  InnerUnknown m_innerUnknown;
};
