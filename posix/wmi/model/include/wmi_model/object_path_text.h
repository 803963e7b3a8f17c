// Object path texts as WMI writes and reads them: Class.Key="value",Other=5, Class=@.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "wmi_model/variant_value.h"

namespace velt::wmi::detail {

struct KeyValue {
  std::u16string name;
  Variant value;
  CIMTYPE type = CIM_STRING;
};

// The relative path of an instance; nullopt when a key has no value. Keys are sorted by name
// (ignoring case); string-like keys are quoted with `\` and `"` escaped; numbers stay bare.
std::optional<std::u16string> formatRelativePath(const std::u16string& className,
                                                 std::vector<KeyValue> keys, bool singleton);
std::u16string formatFullPath(const std::u16string& server, const std::u16string& nameSpace,
                              const std::u16string& relativePath);

struct ParsedPath {
  std::u16string server;     // empty when the path has none
  std::u16string nameSpace;  // empty when the path has none
  std::u16string className;
  bool isInstance = false;  // a key part (or =@) follows the class name
};
// Splits a path into its parts; nullopt when it cannot be a WMI object path.
std::optional<ParsedPath> parseObjectPath(const std::u16string& path);

}  // namespace velt::wmi::detail

namespace velt::wmi {

// The class an object path names, read as the service reads it: past the server and the
// namespace, up to the key part, whatever that holds. Nothing when no valid class name stands
// there. A client that needs the class before its request asks here, so that it names the
// class the service will look up.
std::optional<std::u16string> classOfObjectPath(const std::u16string& path);

}  // namespace velt::wmi
