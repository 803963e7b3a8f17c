// Reads the part of MOF that provider classes need into the repository.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "repository.h"

namespace velt::wmi::detail {

// Throws MofError naming the file, line and column of the first fault. Nothing of a text
// with a fault reaches the repository.
void readMof(std::string_view text, const std::string& fileName, const std::u16string& server,
             Repository& repository);

// The class of an event query "select * from Class [...]", or nullopt.
std::optional<std::u16string> eventQueryClass(const std::u16string& query);

}  // namespace velt::wmi::detail
