// Splitting a subkey path ("a\b\c") into key names.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace velt::registry {

// Windows' limits: a key name holds at most 255 characters, a value name 16383.
constexpr size_t kMaxKeyNameLength = 255;
constexpr size_t kMaxValueNameLength = 16383;

// A null or empty path names the key itself (no names). One trailing backslash is accepted;
// an empty name inside the path (leading or doubled backslash) or an over-long name gives
// ERROR_INVALID_PARAMETER.
LSTATUS splitKeyPath(const char* path, std::vector<std::string>& names);

}  // namespace velt::registry
