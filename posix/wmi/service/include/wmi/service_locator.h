// The class a client activates to reach the per-user WMI service (veltwmid): a local server
// whose objects are IWbemLocator, answering ConnectServer with the service's namespaces.
#pragma once

#include <wbemcli.h>

namespace velt::wmi {

// {4862BE01-262C-4E30-B690-96DCE2657A73}
DEFINE_GUID(CLSID_VeltWmiServiceLocator, 0x4862be01, 0x262c, 0x4e30, 0xb6, 0x90, 0x96, 0xdc, 0xe2,
            0x65, 0x7a, 0x73);

}  // namespace velt::wmi
