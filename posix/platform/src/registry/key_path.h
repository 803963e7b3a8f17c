// Key and value names: splitting a subkey path ("a\b\c") into names, their length in the
// characters Windows counts, and the form under which names compare.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

namespace velt::registry {

// Windows' limits, in characters (UTF-16 units): a key name holds at most 255, a value name
// 16383.
constexpr size_t kMaxKeyNameLength = 255;
constexpr size_t kMaxValueNameLength = 16383;

// A null or empty path names the key itself (no names). One trailing backslash is accepted;
// an empty name inside the path (leading or doubled backslash) or an over-long name gives
// ERROR_INVALID_PARAMETER.
LSTATUS splitKeyPath(const char* path, std::vector<std::string>& names);

// The length of a UTF-8 name in UTF-16 units, as Windows counts it; a byte that is not part
// of a valid sequence counts as one.
size_t nameLength(std::string_view name);

// The name with every letter in upper case (Unicode simple mappings), so that names which
// differ only in case, accented and non-Latin letters included, fold alike. Bytes that are not
// valid UTF-8 are kept as they are.
std::string foldName(std::string_view name);

}  // namespace velt::registry
