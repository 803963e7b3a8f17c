#include <mutex>

#include "wmi_model/remoting.h"
#include "wmi_remoting.h"

namespace velt::wmi {

void registerWmiMarshalers() {
  static std::once_flag once;
  std::call_once(once, [] {
    remote::registerSinkMarshalers();
    remote::registerProviderMarshalers();
    remote::registerServicesMarshaler();
    remote::registerLocatorMarshaler();
    remote::registerEnumeratorMarshaler();
    remote::registerCallResultMarshaler();
  });
}

}  // namespace velt::wmi
