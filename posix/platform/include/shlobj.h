// POSIX stand-in for the SDK's shlobj.h: the known-folder look-up.
#pragma once

#include "winplatform/basetypes.h"

#define CSIDL_APPDATA 0x001a
#define CSIDL_LOCAL_APPDATA 0x001c
#define CSIDL_FLAG_CREATE 0x8000
#define SHGFP_TYPE_CURRENT 0
#define SHGFP_TYPE_DEFAULT 1

extern "C" HRESULT STDAPICALLTYPE SHGetFolderPathA(HWND owner, int folder, HANDLE token,
                                                   DWORD flags, LPSTR path);
