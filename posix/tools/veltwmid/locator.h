// The objects clients get from the daemon: the class factory, the locator it makes and the
// namespaces ConnectServer answers, each counted by the daemon's lifetime.
#pragma once

#include <wbemcli.h>

#include <string>

#include <owners/com_ptr.h>

#include "lifetime.h"
#include "wmi/service.h"

namespace veltwmid {

// The context value in which a client names the repository it expects the service to hold.
inline constexpr char16_t kRepositoryContextName[] = u"NorvexVeltRepository";
// What ConnectServer answers a client that expects another repository than the daemon's.
inline constexpr HRESULT kOtherRepository = WBEM_E_INVALID_CONTEXT;

// The class object the daemon registers. `repositoryPath` is the repository `service` holds;
// a client that names another in its context is refused (empty: no check).
velt::ComPtr<IClassFactory> makeLocatorFactory(velt::wmi::Service& service, Lifetime& lifetime,
                                               std::string repositoryPath = {});

// Whether two repository paths name one file (either may not exist yet).
bool sameRepository(const std::string& a, const std::string& b);

// The namespace a network resource names on this machine ("root\x", "\\.\root\x",
// "//host/root/x"), or nothing with the status to answer.
struct ResourceName {
  std::u16string nameSpace;
  HRESULT status = WBEM_S_NO_ERROR;
};
ResourceName localNamespace(const std::u16string& resource, const std::u16string& hostName);

}  // namespace veltwmid
