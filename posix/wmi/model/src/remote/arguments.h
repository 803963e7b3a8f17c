// What the WMI proxies and stubs share: interface pointers handed as arguments, which cross as
// capabilities back into the process that handed them.
#pragma once

#include <winplatform/remoting.h>

#include "wmi_model/com_object.h"

namespace velt::wmi::remote {

// The proxies of the WMI interfaces derive from detail::ArenaAllocated: like every WMI object
// they live in the low arena, as a provider hands their pointers to code that keeps them in
// 32 bits.

// Loop thread, proxy side: the capability for an interface pointer argument (a new reference
// goes to its stub), or an unset capability for null.
inline velt::rpc::Unknown::Client argumentCapability(REFIID iid, IUnknown* object,
                                                     const remoting::Connection::Anchor& origin) {
  object->AddRef();
  return remoting::toCapability(iid, object, origin);
}

// Loop thread, stub side: the local proxy of a capability received as an argument.
inline remoting::HeldReference argumentProxy(REFIID iid, kj::Own<remoting::RemoteObject> remote) {
  void* proxy = nullptr;
  if (FAILED(remoting::toInterface(iid, kj::mv(remote), &proxy))) return {};
  return remoting::HeldReference(static_cast<IUnknown*>(proxy));
}

template <typename Interface>
Interface* as(const remoting::HeldReference& held) {
  return static_cast<Interface*>(held.get());
}

}  // namespace velt::wmi::remote
