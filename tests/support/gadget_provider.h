// A provider server for the client's tests: a WinMain-shaped entry serving a small class of
// gadgets kept in memory (only their names and sizes; a get of "Stranger" answers an event), firing
// an event on every write (or a flood of them), and an enumeration that can be held after its first
// object so a test sees whether the client prints rows as they come.
#pragma once

#include <objbase.h>
#include <wbemprov.h>
#include <windows.h>

#include <owners/com_ptr.h>

#include <initializer_list>
#include <string>
#include <utility>

namespace veltwmi::test {

DEFINE_GUID(CLSID_GadgetProvider, 0x3c2b7a10, 0x5e4f, 0x4d21, 0x8b, 0x6a, 0x91, 0x0e, 0x2d, 0x44,
            0x7f, 0xc3);

extern const char* const kGadgetMof;  // namespace root\test, provider "GadgetProvider"

int WINAPI gadgetProviderMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show);

// While on, the provider fires GadgetChanged events without pause into its event sink.
void floodEvents(bool on);
// Events the flood fired so far.
unsigned long floodedEvents();
// Holds every enumeration after its first object until released (or 20 s pass).
void holdEnumerations(bool hold);
// Registers the server's class in the registry the process uses, as its installation would.
void registerGadgetServer();
// How many provider objects were initialised since the process started: each activation
// by the service counts one.
unsigned long providerInitializations();
// Puts the gadgets back to g0, g1 and g2.
void resetGadgets();
// A request context holding values the provider reads: "GadgetCount" (an enumeration of that
// many made-up gadgets), "GadgetPauseMs" (a pause before each answer and each made-up gadget but
// the first), "GadgetQuietMs" (a pause after the made-up gadgets, before the final status) or
// "GadgetInitFails" (Initialize fails, with a status object).
velt::ComPtr<IWbemContext> gadgetContext(
    std::initializer_list<std::pair<const char16_t*, LONG>> values);
inline velt::ComPtr<IWbemContext> gadgetContext(const char16_t* name, LONG value) {
  return gadgetContext({{name, value}});
}
// A new Gadget instance of the namespace's class, or null.
velt::ComPtr<IWbemClassObject> newGadget(IWbemServices* ns, const std::u16string& name, LONG size);

}  // namespace veltwmi::test
