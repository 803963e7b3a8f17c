// SHGetFolderPathA for POSIX: both application-data folders are the XDG data directory,
// the place where per-user application data lives on this platform.
#include <shlobj.h>

#include <cstring>

#include "xdg_dirs.h"

namespace {
constexpr int kFolderFlagMask = 0xff00;  // CSIDL_FLAG_CREATE and its siblings
}

extern "C" HRESULT STDAPICALLTYPE SHGetFolderPathA(HWND, int folder, HANDLE, DWORD flags,
                                                   LPSTR path) {
  if (path == nullptr || (flags != SHGFP_TYPE_CURRENT && flags != SHGFP_TYPE_DEFAULT)) {
    return E_INVALIDARG;
  }
  path[0] = '\0';
  int csidl = folder & ~kFolderFlagMask;
  if (csidl != CSIDL_APPDATA && csidl != CSIDL_LOCAL_APPDATA) return E_INVALIDARG;
  std::string directory = velt::platform::xdgDataHome();
  if (directory.empty()) return E_FAIL;
  // The caller's buffer is MAX_PATH characters; a longer path is refused, never cut.
  if (directory.size() >= MAX_PATH) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
  if ((folder & CSIDL_FLAG_CREATE) != 0 && !velt::platform::createDirectories(directory)) {
    return E_FAIL;
  }
  std::memcpy(path, directory.c_str(), directory.size() + 1);
  return S_OK;
}
