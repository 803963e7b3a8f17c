// A small interface the remoting tests call across processes, with its proxy and stub.
#pragma once

#include <objbase.h>
#include <windows.h>

// {6B0E2D51-4C3A-4F8E-9A71-2E5D8C1B7A10}
DEFINE_GUID(CLSID_RemoteProbe, 0x6b0e2d51, 0x4c3a, 0x4f8e, 0x9a, 0x71, 0x2e, 0x5d, 0x8c, 0x1b, 0x7a,
            0x10);
// {0D4F6A92-7B13-4E2C-8D05-93A1C6E4F258}
DEFINE_GUID(IID_IRemoteProbe, 0x0d4f6a92, 0x7b13, 0x4e2c, 0x8d, 0x05, 0x93, 0xa1, 0xc6, 0xe4, 0xf2,
            0x58);
// An interface nothing marshals. {5E61C0A7-2D48-4B9F-A3E6-17C0B85D94F3}
DEFINE_GUID(IID_IUnmarshaled, 0x5e61c0a7, 0x2d48, 0x4b9f, 0xa3, 0xe6, 0x17, 0xc0, 0xb8, 0x5d, 0x94,
            0xf3);

struct IRemoteProbe : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE ProcessId(LONG* pid) = 0;
  // Returns once `parties` callers are inside at the same time (E_FAIL after 20 s without).
  virtual HRESULT STDMETHODCALLTYPE Meet(LONG parties) = 0;
};

// Registers the proxy and stub of IRemoteProbe with the COM runtime.
void registerRemoteProbeMarshaler();
