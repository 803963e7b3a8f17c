// POSIX stand-in for the SDK's initguid.h. Against the SDK, a GUID named with DEFINE_GUID is
// only declared unless this header comes first in one source file; here every DEFINE_GUID
// already defines its GUID (inline), so there is nothing left to switch on.
#pragma once

#include <guiddef.h>
