#include "registration.h"

#include <windows.h>

#include <owners/clsid_text.h>
#include <owners/unique_handle.h>

#include "wmi/service_locator.h"

namespace veltwmid {
namespace {

std::string classKey() {
  return "CLSID\\" + velt::clsidText(velt::wmi::CLSID_VeltWmiServiceLocator);
}

bool setText(HKEY key, const std::string& text, std::string& error) {
  LSTATUS status =
      RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                     static_cast<DWORD>(text.size() + 1));
  if (status == ERROR_SUCCESS) return true;
  error = "cannot write the registry (status " + std::to_string(status) + ")";
  return false;
}

}  // namespace

std::string registeredCommand() {
  velt::UniqueRegistryKey key;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, (classKey() + "\\LocalServer32").c_str(), 0, KEY_READ,
                    key.put()) != ERROR_SUCCESS) {
    return {};
  }
  char text[4096] = {};
  DWORD size = sizeof text - 1;
  DWORD type = 0;
  if (RegQueryValueExA(key.get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) !=
          ERROR_SUCCESS ||
      type != REG_SZ) {
    return {};
  }
  return text;
}

bool registerDaemon(const std::string& executable, std::string& error) {
  velt::UniqueRegistryKey classEntry, server;
  LSTATUS status = RegCreateKeyExA(HKEY_CLASSES_ROOT, classKey().c_str(), 0, nullptr, 0,
                                   KEY_ALL_ACCESS, nullptr, classEntry.put(), nullptr);
  if (status == ERROR_SUCCESS) {
    status = RegCreateKeyExA(classEntry.get(), "LocalServer32", 0, nullptr, 0, KEY_ALL_ACCESS,
                             nullptr, server.put(), nullptr);
  }
  if (status != ERROR_SUCCESS) {
    error = "cannot write the registry (status " + std::to_string(status) + ")";
    return false;
  }
  // The command line is split at blanks: a path with blanks goes in quotes.
  std::string command =
      executable.find_first_of(" \t") == std::string::npos ? executable : '"' + executable + '"';
  return setText(classEntry.get(), "NorvexVelt WMI service", error) &&
         setText(server.get(), command, error);
}

bool unregisterDaemon(std::string& error) {
  std::string key = classKey();
  LSTATUS status = RegDeleteKeyA(HKEY_CLASSES_ROOT, (key + "\\LocalServer32").c_str());
  if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) {
    status = RegDeleteKeyA(HKEY_CLASSES_ROOT, key.c_str());
  }
  if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) return true;
  error = "cannot write the registry (status " + std::to_string(status) + ")";
  return false;
}

}  // namespace veltwmid
