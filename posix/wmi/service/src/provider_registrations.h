// The provider registrations of a MOF text: __Win32Provider and the instance, method and
// event registrations that name it.
#pragma once

#include <functional>

#include "repository_types.h"
#include "wmi_model/mof_reader.h"

namespace velt::wmi::detail {

// Gives the staged (not yet committed) data of a namespace.
using StagedNamespace = std::function<NamespaceData&(const std::u16string& name)>;

// Applies every instance of the document, in order; throws MofError at the first fault.
void registerProviders(const MofDocument& document, const StagedNamespace& staged);

}  // namespace velt::wmi::detail
