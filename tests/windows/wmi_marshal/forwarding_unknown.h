/* rpcrt4's IUnknown methods for generated proxies: exported by it, declared by no header of the
   compiler's. */
#ifndef VELT_FORWARDING_UNKNOWN_H
#define VELT_FORWARDING_UNKNOWN_H
#include <unknwn.h>
HRESULT STDMETHODCALLTYPE IUnknown_QueryInterface_Proxy(IUnknown* This, REFIID riid,
                                                        void** ppvObject);
ULONG STDMETHODCALLTYPE IUnknown_AddRef_Proxy(IUnknown* This);
ULONG STDMETHODCALLTYPE IUnknown_Release_Proxy(IUnknown* This);
#endif
