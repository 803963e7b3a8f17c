#pragma once

#include <string>

namespace velt::jvm {

// The running executable's full path. Empty when it cannot be had, or only cut short by the
// path buffer: a shortened path would name some other directory.
std::string executablePath();

}  // namespace velt::jvm
