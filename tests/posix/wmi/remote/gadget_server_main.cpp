// The gadget provider as a local server of its own, as COM starts it from LocalServer32.
#include <stdlib.h>
#include <winplatform/posix_hooks.h>

#include <cstdio>

#include "gadget_provider.h"
#include "wmi_model/objects.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  veltwmi::test::resetGadgets();
  // A test that kills the server mid-enumeration asks for enumerations that stop after one.
  const char* hold = getenv("VELT_GADGET_HOLD_ENUMERATIONS");
  if (hold != nullptr && hold[0] == '1') veltwmi::test::holdEnumerations(true);
  const long liveAtStart = velt::wmi::liveObjectCount();
  const int code = veltwmi::test::gadgetProviderMain(instance, previous, commandLine, show);
  // For the tests of its clients: what they left referenced here (its output goes to its log).
  std::fprintf(stderr, "gadget server: objects left: %ld\n",
               velt::wmi::liveObjectCount() - liveAtStart);
  LONG proxies = 0, stubs = 0;
  VeltLiveRemoteObjects(&proxies, &stubs);
  std::fprintf(stderr, "gadget server: proxies and stubs left: %ld and %ld\n",
               static_cast<long>(proxies), static_cast<long>(stubs));
  return code;
}
