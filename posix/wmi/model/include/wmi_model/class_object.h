// IWbemClassObject: one class definition or one instance, with the system properties WMI
// derives from the definition and the key values.
#pragma once

#include <memory>

#include "wmi_model/class_model.h"
#include "wmi_model/com_object.h"

namespace velt::wmi::detail {

// A class object for the definition; its property values start as the defaults.
ComPtr<IWbemClassObject> makeClassObject(std::shared_ptr<const ClassLayout> def);
// A class object for the whole class the declaration stands for.
ComPtr<IWbemClassObject> makeClassObject(const std::shared_ptr<const ClassDef>& def);
// A read-only qualifier set over a copy of the qualifiers.
ComPtr<IWbemQualifierSet> makeQualifierSet(const Qualifiers& qualifiers);

}  // namespace velt::wmi::detail
