#include "wmi_model/com_object.h"
#include "wmi_model/objects.h"

namespace velt::wmi {

std::atomic<long>& detail::liveObjects() {
  static std::atomic<long> count{0};
  return count;
}

long liveObjectCount() { return detail::liveObjects().load(); }

}  // namespace velt::wmi
