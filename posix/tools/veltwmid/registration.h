// The daemon's entry in the user's registry: HKCR\CLSID\{locator}\LocalServer32 names this
// executable, so that activating the locator class starts it.
#pragma once

#include <string>

namespace veltwmid {

// The command registered for the locator class, or empty when none is.
std::string registeredCommand();
// Registers `executable`; false (with the registry's status in `error`) when it cannot.
bool registerDaemon(const std::string& executable, std::string& error);
bool unregisterDaemon(std::string& error);

}  // namespace veltwmid
