// A namespace that passes class look-ups on to a real one and counts them by class name, for
// tests of how often a provider asks for a class definition. It declines everything else.
#pragma once

#include <wbemcli.h>
#include <windows.h>

#include <wmi_model/low_arena.h>

#include <atomic>
#include <map>
#include <mutex>
#include <new>
#include <string>

#include "declined_wbem.h"

namespace velt::test {

class CountingNamespace final : public DeclinedServices {
 public:
  // Lives where a 32-bit pointer reaches it, as Java names namespaces by 32 bits; one
  // reference for the caller. Holds one reference on `inner` until its last release.
  static CountingNamespace* create(IWbemServices* inner) {
    return new (velt::wmi::lowArenaAllocate(sizeof(CountingNamespace))) CountingNamespace(inner);
  }

  // How many look-ups named this class, in the case they used; those of any class with "".
  long lookups(const std::u16string& className = u"") const {
    std::lock_guard<std::mutex> lock(m_mutex);
    long total = 0;
    for (const auto& [name, count] : m_lookups)
      total += className.empty() || name == className ? count : 0;
    return total;
  }
  void resetLookups() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lookups.clear();
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IWbemServices)) {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    *out = static_cast<IWbemServices*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_references; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --m_references;
    if (left == 0) {
      m_inner->Release();
      this->~CountingNamespace();
      velt::wmi::lowArenaFree(this, sizeof(CountingNamespace));
    }
    return left;
  }

  HRESULT STDMETHODCALLTYPE GetObject(const BSTR path, LONG flags, IWbemContext* context,
                                      IWbemClassObject** object,
                                      IWbemCallResult** result) override {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      ++m_lookups[path != nullptr ? std::u16string(path) : u"<null>"];
    }
    return m_inner->GetObject(path, flags, context, object, result);
  }

 private:
  explicit CountingNamespace(IWbemServices* inner) : m_inner(inner) { m_inner->AddRef(); }
  ~CountingNamespace() = default;

  IWbemServices* m_inner;
  std::atomic<ULONG> m_references{1};
  mutable std::mutex m_mutex;
  std::map<std::u16string, long> m_lookups;
};

}  // namespace velt::test
