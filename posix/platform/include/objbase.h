// POSIX stand-in for the SDK's objbase.h: the COM runtime (ole32).
#pragma once

#include "winplatform/basetypes.h"
#include "winplatform/guiddef.h"

typedef enum tagCOINIT {
  COINIT_APARTMENTTHREADED = 0x2,
  COINIT_MULTITHREADED = 0x0,
  COINIT_DISABLE_OLE1DDE = 0x4,
  COINIT_SPEED_OVER_MEMORY = 0x8
} COINIT;

typedef enum tagCLSCTX {
  CLSCTX_INPROC_SERVER = 0x1,
  CLSCTX_INPROC_HANDLER = 0x2,
  CLSCTX_LOCAL_SERVER = 0x4,
  CLSCTX_REMOTE_SERVER = 0x10,
  CLSCTX_ALL = 0x17
} CLSCTX;

typedef enum tagREGCLS {
  REGCLS_SINGLEUSE = 0,
  REGCLS_MULTIPLEUSE = 1,
  REGCLS_MULTI_SEPARATE = 2,
  REGCLS_SUSPENDED = 4,
  REGCLS_SURROGATE = 8
} REGCLS;

#define RPC_C_AUTHN_LEVEL_DEFAULT 0
#define RPC_C_AUTHN_LEVEL_NONE 1
#define RPC_C_AUTHN_LEVEL_CONNECT 2
#define RPC_C_IMP_LEVEL_DEFAULT 0
#define RPC_C_IMP_LEVEL_ANONYMOUS 1
#define RPC_C_IMP_LEVEL_IDENTIFY 2
#define RPC_C_IMP_LEVEL_IMPERSONATE 3
typedef enum tagEOLE_AUTHENTICATION_CAPABILITIES { EOAC_NONE = 0 } EOLE_AUTHENTICATION_CAPABILITIES;
typedef void* PSECURITY_DESCRIPTOR;
typedef struct tagSOLE_AUTHENTICATION_SERVICE SOLE_AUTHENTICATION_SERVICE;

#define CLSID_STRING_SIZE_CHARS 39
#ifndef CO_E_CLASSSTRING
#define CO_E_CLASSSTRING ((HRESULT)0x800401F3)
#endif

extern "C" {
HRESULT STDAPICALLTYPE CoInitializeEx(LPVOID reserved, DWORD coInit);
void STDAPICALLTYPE CoUninitialize(void);
HRESULT STDAPICALLTYPE CoInitializeSecurity(PSECURITY_DESCRIPTOR securityDescriptor,
                                            LONG authnServices,
                                            SOLE_AUTHENTICATION_SERVICE* authnServiceList,
                                            void* reserved1, DWORD authnLevel, DWORD impLevel,
                                            void* authList, DWORD capabilities, void* reserved3);
HRESULT STDAPICALLTYPE CoRegisterClassObject(REFCLSID clsid, IUnknown* unknown, DWORD clsContext,
                                             DWORD flags, LPDWORD registrationCookie);
HRESULT STDAPICALLTYPE CoRevokeClassObject(DWORD registrationCookie);
HRESULT STDAPICALLTYPE CoGetClassObject(REFCLSID clsid, DWORD clsContext, LPVOID serverInfo,
                                        REFIID iid, LPVOID* object);
HRESULT STDAPICALLTYPE CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD clsContext,
                                        REFIID iid, LPVOID* object);
HRESULT STDAPICALLTYPE StringFromCLSID(REFCLSID clsid, LPOLESTR* text);
int STDAPICALLTYPE StringFromGUID2(REFGUID guid, LPOLESTR text, int maxChars);
HRESULT STDAPICALLTYPE CLSIDFromString(LPCOLESTR text, LPCLSID clsid);
LPVOID STDAPICALLTYPE CoTaskMemAlloc(SIZE_T bytes);
void STDAPICALLTYPE CoTaskMemFree(LPVOID memory);
}
