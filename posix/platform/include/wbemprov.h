// POSIX stand-in for the SDK's wbemprov.h: the interfaces a WMI provider implements or is
// handed during initialisation.
#pragma once

#include <wbemcli.h>

typedef enum tag_WBEM_PROVIDER_REQUIREMENTS_TYPE {
  WBEM_REQUIREMENTS_START_POSTFILTER = 0,
  WBEM_REQUIREMENTS_STOP_POSTFILTER = 1,
  WBEM_REQUIREMENTS_RECHECK_SUBSCRIPTIONS = 2
} WBEM_PROVIDER_REQUIREMENTS_TYPE;

DEFINE_GUID(IID_IWbemProviderInitSink, 0x1be41571, 0x91dd, 0x11d1, 0xae, 0xb2, 0x00, 0xc0, 0x4f,
            0xb6, 0x88, 0x20);
DEFINE_GUID(IID_IWbemProviderInit, 0x1be41572, 0x91dd, 0x11d1, 0xae, 0xb2, 0x00, 0xc0, 0x4f, 0xb6,
            0x88, 0x20);
DEFINE_GUID(IID_IWbemEventProvider, 0xe245105b, 0xb06e, 0x11d0, 0xad, 0x61, 0x00, 0xc0, 0x4f, 0xd8,
            0xfd, 0xff);

struct IWbemProviderInitSink : public IUnknown {
  STDMETHOD(SetStatus)(LONG lStatus, LONG lFlags) PURE;

 protected:
  ~IWbemProviderInitSink() = default;
};

struct IWbemProviderInit : public IUnknown {
  STDMETHOD(Initialize)
  (LPWSTR wszUser, LONG lFlags, LPWSTR wszNamespace, LPWSTR wszLocale, IWbemServices* pNamespace,
   IWbemContext* pCtx, IWbemProviderInitSink* pInitSink) PURE;

 protected:
  ~IWbemProviderInit() = default;
};

struct IWbemEventProvider : public IUnknown {
  STDMETHOD(ProvideEvents)(IWbemObjectSink* pSink, LONG lFlags) PURE;

 protected:
  ~IWbemEventProvider() = default;
};
