// Reading a MOF text against the repository's contents: its class definitions and the
// namespaces it touches with its provider registrations applied, not yet stored.
#pragma once

#include <map>
#include <string>
#include <string_view>

#include "repository_types.h"
#include "wmi_model/mof_reader.h"

namespace velt::wmi::detail {

struct StagedMof {
  MofDocument document;
  std::map<std::u16string, NamespaceData> namespaces;  // touched ones, by lower-case name
};

// Throws MofError naming the file, line and column of the first fault.
StagedMof stageMof(std::string_view text, const std::string& fileName, const std::u16string& server,
                   const Contents& current);

}  // namespace velt::wmi::detail
