// The buffer rules shared by the kernel32 functions that hand out text.
#pragma once

#include <windows.h>

#include <string_view>

namespace velt::platform {

// Buffer large enough: copies with the zero, answers the length without it. Too small:
// copies nothing, answers the size needed with the zero.
DWORD copyOrNeededSize(std::string_view text, LPSTR buffer, DWORD size);

}  // namespace velt::platform
