// The one shape of event query the service answers: "select * from Class [where ...]".
#pragma once

#include <optional>
#include <string>

namespace velt::wmi::detail {

// The queried class, or nullopt when the query has another shape.
std::optional<std::u16string> eventQueryClass(const std::u16string& query);

}  // namespace velt::wmi::detail
