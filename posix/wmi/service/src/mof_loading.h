// Reading a MOF text into the repository: class definitions and provider registrations
// arrive together or, when the text has a fault, not at all.
#pragma once

#include <string>
#include <string_view>

#include "repository.h"

namespace velt::wmi::detail {

// Throws MofError naming the file, line and column of the first fault.
void loadMof(std::string_view text, const std::string& fileName, const std::u16string& server,
             Repository& repository);

}  // namespace velt::wmi::detail
