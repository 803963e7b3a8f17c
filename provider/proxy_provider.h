// The WMI provider component hosted by the server.
#pragma once

#include <windows.h>

#include "unknown.h"

class CProxyProvider : public CUnknown {
 public:
  // The factory table's creation function.
  static HRESULT CreateInstance(IUnknown* pOuter, CUnknown** out);

  explicit CProxyProvider(IUnknown* pOuter);
  ~CProxyProvider() override;

  // Guards the process's first start of the Java side. Initialised before the entry runs and
  // deleted once at process exit.
  static CRITICAL_SECTION sm_csJvm;
};
