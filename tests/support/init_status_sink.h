// An IWbemProviderInitSink on the stack that keeps every status a provider's Initialize
// reports, in order.
#pragma once

#include <wbemprov.h>

#include <vector>

namespace velt::test {

class InitStatusSink final : public IWbemProviderInitSink {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  // Owned by the test's frame: references do not decide its life.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE SetStatus(LONG status, LONG) override {
    statuses.push_back(status);
    return S_OK;
  }

  std::vector<LONG> statuses;
};

}  // namespace velt::test
