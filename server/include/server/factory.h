// The class factory, its table of components and the rule by which the server stops.
#pragma once

#include <windows.h>

#include <objbase.h>
#include <unknwn.h>

class CUnknown;
class CFactory;

// Creates one component with a reference count of 1, or returns a failure code.
typedef HRESULT (*CreateFunction)(IUnknown* pOuter, CUnknown** out);

struct CFactoryEntry {
  const CLSID* classId;
  CreateFunction createFunction;
  const char* friendlyName;
  const char* progId;
  const char* versionIndependentProgId;
  CFactory* classFactory;
  DWORD registrationCookie;
};

// The table of the components this server hosts. The server executable defines it; a test
// may link a table of its own in its place.
extern CFactoryEntry g_factoryEntries[];
extern int g_factoryEntryCount;
// What the hosted components serve, written to standard output (-ListProviders); 0 on success.
int listHostedProviders();

class CFactory final : public IClassFactory {
 public:
  explicit CFactory(CFactoryEntry* pEntry);
  CFactory(const CFactory&) = delete;
  CFactory& operator=(const CFactory&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pOuter, REFIID iid, void** out) override;
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

  // S_OK when no component is alive and no server lock is held, S_FALSE otherwise.
  static HRESULT CanUnloadNow();
  // Registers one factory per table row with COM; false when a row could not be registered
  // (rows before it stay registered).
  static bool StartFactories();
  // Revokes and releases every registered factory.
  static void StopFactories();
  // Asked on the way out, once the factories are revoked: true when no component is alive, no
  // server lock is held and no creation is under way, so the server may end. From the first
  // call on, every creation is refused (a client that still holds a factory is sent to a new
  // server); while it answers false, the end of what keeps the server posts WM_QUIT again.
  static bool ReadyToEnd();
  // Write or remove the registry entries of every table row.
  static HRESULT RegisterEntries();
  static HRESULT UnregisterEntries();

  static LONG sm_serverLocks;
  static LONG sm_creationsUnderWay;  // CreateInstance calls that may still make a component
  static LONG sm_ending;             // non-zero once ReadyToEnd was asked: nothing more is made
  static DWORD sm_mainThreadId;
  static HMODULE sm_module;

 private:
  ~CFactory() = default;

  LONG m_refCount;
  CFactoryEntry* m_pEntry;
};
