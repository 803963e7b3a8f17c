// Compiled into every program that links the object model, so that the WMI interfaces cross
// processes there as they do on Windows, without the program asking.
#include "wmi_model/remoting.h"

namespace {

const bool registered = [] {
  velt::wmi::registerWmiMarshalers();
  return true;
}();

}  // namespace
