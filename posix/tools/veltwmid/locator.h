// The objects clients get from the daemon: the class factory, the locator it makes and the
// namespaces ConnectServer answers, each counted by the daemon's lifetime.
#pragma once

#include <wbemcli.h>

#include <owners/com_ptr.h>

#include "lifetime.h"
#include "wmi/service.h"

namespace veltwmid {

// The class object the daemon registers.
velt::ComPtr<IClassFactory> makeLocatorFactory(velt::wmi::Service& service, Lifetime& lifetime);

// The namespace a network resource names on this machine ("root\x", "\\.\root\x",
// "//host/root/x"), or nothing with the status to answer.
struct ResourceName {
  std::u16string nameSpace;
  HRESULT status = WBEM_S_NO_ERROR;
};
ResourceName localNamespace(const std::u16string& resource, const std::u16string& hostName);

}  // namespace veltwmid
