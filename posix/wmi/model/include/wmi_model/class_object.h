// IWbemClassObject: one class definition or one instance, with the system properties WMI
// derives from the definition and the key values.
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "wmi_model/class_model.h"
#include "wmi_model/com_object.h"

namespace velt::wmi::detail {

// A class object for the definition; its property values start as the defaults.
ComPtr<IWbemClassObject> makeClassObject(std::shared_ptr<const ClassLayout> def);
// A class object for the whole class the declaration stands for.
ComPtr<IWbemClassObject> makeClassObject(const std::shared_ptr<const ClassDef>& def);
// What a class object is made of: enough to make an equal one in another process.
struct ObjectState {
  std::shared_ptr<const ClassLayout> layout;
  WBEM_GENUS_TYPE genus = WBEM_GENUS_INSTANCE;
  std::vector<Variant> values;  // one per property of the layout, in its order
};
// A copy of the state of `object` when it is a class object of this library, else nothing.
std::optional<ObjectState> stateOf(IWbemClassObject* object);
// The state of a class object of this library, seen in place.
struct ObjectView {
  const std::shared_ptr<const ClassLayout>& layout;
  WBEM_GENUS_TYPE genus;
  const std::vector<Variant>& values;
};
// Runs `use` on the state of `object` under the object's lock, without copying it, and answers
// what `use` answered. Nothing, and `use` is not run, when `object` is not of this library or
// a value may hold an object (which `use` could reach back into): then take stateOf's copy.
// `use` must not call into `object`.
std::optional<HRESULT> withStateOf(IWbemClassObject* object,
                                   HRESULT (*use)(const ObjectView& state, void* context),
                                   void* context);
// A class object with that state; nothing when the values do not fit the layout.
ComPtr<IWbemClassObject> makeObject(ObjectState state);

// A read-only qualifier set over a copy of the qualifiers.
ComPtr<IWbemQualifierSet> makeQualifierSet(const Qualifiers& qualifiers);

}  // namespace velt::wmi::detail
