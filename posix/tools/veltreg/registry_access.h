// What the tool needs from the registry API, with owned handles.
#pragma once

#include <windows.h>

#include <owners/unique_handle.h>

#include <optional>
#include <string>
#include <vector>

#include "value_text.h"

namespace veltreg {

LSTATUS openKey(HKEY parent, const std::string& path, REGSAM access, velt::UniqueRegistryKey& key);
LSTATUS subkeyNames(HKEY key, std::vector<std::string>& names);
LSTATUS allValues(HKEY key, std::vector<Value>& values);
LSTATUS readValue(HKEY key, const std::string& name, Value& value);

}  // namespace veltreg
