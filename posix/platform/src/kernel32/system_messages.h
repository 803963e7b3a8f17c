// The English texts of the system codes this system meets.
#pragma once

#include <windows.h>

namespace velt::platform {

// The text for a Win32 error code or an HRESULT (HRESULT_FROM_WIN32 forms answer the Win32
// text), without the line end; null when the system has none.
const char* systemMessageText(DWORD code);

}  // namespace velt::platform
