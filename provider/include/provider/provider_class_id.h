// The provider's class identifier: the one value the factory table and every registry entry
// use. {6D0F4A2E-93B7-4C51-A8E2-5F19C3D7B06A}
#pragma once

#include <guiddef.h>

DEFINE_GUID(CLSID_NorvexVeltProxyProvider, 0x6d0f4a2e, 0x93b7, 0x4c51, 0xa8, 0xe2, 0x5f, 0x19, 0xc3,
            0xd7, 0xb0, 0x6a);
