// The factory table's side of self-registration.
#include "registry.h"
#include "server/factory.h"

HRESULT CFactory::RegisterEntries() {
  HRESULT outcome = S_OK;
  for (int row = 0; row < g_factoryEntryCount; ++row) {
    const CFactoryEntry& entry = g_factoryEntries[row];
    HRESULT hr = registerComponent(sm_module, *entry.classId, entry.friendlyName,
                                   entry.versionIndependentProgId, entry.progId);
    if (FAILED(hr) && SUCCEEDED(outcome)) outcome = hr;
  }
  return outcome;
}

HRESULT CFactory::UnregisterEntries() {
  HRESULT outcome = S_OK;
  for (int row = 0; row < g_factoryEntryCount; ++row) {
    const CFactoryEntry& entry = g_factoryEntries[row];
    HRESULT hr = unregisterComponent(*entry.classId, entry.versionIndependentProgId, entry.progId);
    if (FAILED(hr) && SUCCEEDED(outcome)) outcome = hr;
  }
  return outcome;
}
