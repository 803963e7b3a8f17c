#include "proxy_provider.h"

#include <new>

#include "trace.h"

namespace {
constexpr char kClassName[] = "CProxyProvider";
}

CRITICAL_SECTION CProxyProvider::sm_csJvm;

HRESULT CProxyProvider::CreateInstance(IUnknown* pOuter, CUnknown** out) {
  trace(kClassName, "CProxyProvider::CreateInstance()", 0);
  *out = new (std::nothrow) CProxyProvider(pOuter);
  return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

CProxyProvider::CProxyProvider(IUnknown* pOuter) : CUnknown(pOuter) {
  trace(kClassName, "CProxyProvider::CProxyProvider()", 0);
}

CProxyProvider::~CProxyProvider() {
  trace(kClassName, "CProxyProvider::~CProxyProvider()", 0);
  OutputDebugStringA("CProxyProvider::~CProxyProvider()\n");
}
