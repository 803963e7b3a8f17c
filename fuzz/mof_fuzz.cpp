// Feeds arbitrary bytes to the MOF reader. Only MofError may leave it, and every class it
// accepts must make a usable class object: its name and its property count answer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include <owners/com_ptr.h>

#include "wmi_model/class_object.h"
#include "wmi_model/low_arena.h"
#include "wmi_model/mof_error.h"
#include "wmi_model/mof_reader.h"

namespace {

using namespace velt::wmi::detail;

void require(bool condition) {
  if (!condition) std::abort();
}

void checkClass(const std::shared_ptr<const ClassDef>& def) {
  velt::ComPtr<IWbemClassObject> object = makeClassObject(def);
  Variant name;
  require(object->Get(u"__CLASS", 0, name.get(), nullptr, nullptr) == WBEM_S_NO_ERROR);
  require(name.asText() == def->name);
  Variant count;
  require(object->Get(u"__PROPERTY_COUNT", 0, count.get(), nullptr, nullptr) == WBEM_S_NO_ERROR);
  require(count.vt() == VT_I4 && count.get()->lVal >= 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool arena = velt::wmi::reserveLowArena();
  require(arena);
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    MofDocument document = readMof(text, "fuzz.mof", u"HOST", nullptr);
    for (const auto& def : document.classes) checkClass(def);
  } catch (const velt::wmi::MofError& e) {
    require(e.line() >= 1 && e.column() >= 1);
  }
  return 0;
}
