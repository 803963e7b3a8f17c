#include "registry.h"

#include <owners/registry_tree.h>
#include <owners/unique_handle.h>

#include <cstdio>
#include <string>

#include "trace/trace.h"

namespace {

constexpr DWORD kModulePathSize = 512;

// A condition the registration code requires; when it fails, says which, where, and in which
// module, to the trace log and the debug output.
bool check(bool holds, const char* conditionText, int line) {
  if (holds) return true;
  char message[512];
  std::snprintf(message, sizeof message, "Check failed: %s, module registry, %s:%d", conditionText,
                __FILE__, line);
  trace("registry", message, 0);
  OutputDebugStringA(message);
  OutputDebugStringA("\n");
  return false;
}
#define REGISTRY_CHECK(condition) check((condition), #condition, __LINE__)

std::string keyPath(const char* key, const char* subkey) {
  std::string path(key);
  if (subkey != nullptr) path.append("\\").append(subkey);
  return path;
}

DWORD textSize(const char* text) {
  return static_cast<DWORD>(std::char_traits<char>::length(text) + 1);
}

bool writeText(const char* key, const char* subkey, const char* text) {
  return writeKeyValue(HKEY_CLASSES_ROOT, key, subkey, text, REG_SZ, textSize(text));
}

const char* rootName(HKEY root) {
  if (root == HKEY_CLASSES_ROOT) return "HKEY_CLASSES_ROOT";
  if (root == HKEY_LOCAL_MACHINE) return "HKEY_LOCAL_MACHINE";
  if (root == HKEY_CURRENT_USER) return "HKEY_CURRENT_USER";
  return "(key)";
}

// Names the registry call that failed, its key and the system's reason.
void reportFailedCall(const char* call, HKEY root, const std::string& key, LSTATUS status) {
  char reason[256] = "";
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                 static_cast<DWORD>(status), 0, reason, sizeof reason, nullptr);
  size_t length = std::char_traits<char>::length(reason);
  while (length > 0 && (reason[length - 1] == '\n' || reason[length - 1] == '\r')) {
    reason[--length] = '\0';
  }
  char message[1024];
  std::snprintf(message, sizeof message, "%s(%s\\%s) failed: error %ld %s", call, rootName(root),
                key.c_str(), static_cast<long>(status), reason);
  trace("registry", message, 0);
  OutputDebugStringA(message);
  OutputDebugStringA("\n");
}

}  // namespace

HRESULT registerComponent(HMODULE module, REFCLSID classId, const char* friendlyName,
                          const char* versionIndependentProgId, const char* progId) {
  char modulePath[kModulePathSize];
  DWORD dwResult = GetModuleFileNameA(module, modulePath, kModulePathSize);
  if (!REGISTRY_CHECK(dwResult != 0)) return E_FAIL;
  // A cut path would register a server that does not exist.
  if (!REGISTRY_CHECK(dwResult < kModulePathSize)) return E_FAIL;
  modulePath[dwResult] = '\0';

  char classIdText[CLSID_STRING_SIZE];
  if (!clsidToText(classId, classIdText, sizeof classIdText)) return E_FAIL;
  std::string classKey = std::string("CLSID\\") + classIdText;

  // Every entry is tried; one that could not be written fails the registration, since COM
  // could not start a server registered in part.
  bool written = writeText(classKey.c_str(), nullptr, friendlyName);
  // COM hands this value to the process start as a command line: unquoted, a path with a
  // blank is read as the shortest existing prefix, so "C:\Program.exe" would run instead.
  std::string command = modulePath;
  if (command.find_first_of(" \t") != std::string::npos) command = '"' + command + '"';
  written &= writeText(classKey.c_str(), "LocalServer32", command.c_str());
  written &= writeText(classKey.c_str(), "ProgID", progId);
  written &= writeText(classKey.c_str(), "VersionIndependentProgID", versionIndependentProgId);
  written &= writeText(versionIndependentProgId, nullptr, friendlyName);
  written &= writeText(versionIndependentProgId, "CLSID", classIdText);
  written &= writeText(versionIndependentProgId, "CurVer", progId);
  written &= writeText(progId, nullptr, friendlyName);
  written &= writeText(progId, "CLSID", classIdText);
  return written ? S_OK : E_FAIL;
}

HRESULT unregisterComponent(REFCLSID classId, const char* versionIndependentProgId,
                            const char* progId) {
  char classIdText[CLSID_STRING_SIZE];
  if (!clsidToText(classId, classIdText, sizeof classIdText)) return E_FAIL;
  std::string classKey = std::string("CLSID\\") + classIdText;

  // An in-process server of the same class keeps its class key and the ProgIDs; only the local
  // server's own entry goes.
  if (hasSubkey(HKEY_CLASSES_ROOT, classKey.c_str(), "InprocServer32")) {
    LONG lResult =
        deleteKeyTree(HKEY_CLASSES_ROOT, keyPath(classKey.c_str(), "LocalServer32").c_str());
    return REGISTRY_CHECK(lResult == ERROR_SUCCESS) ? S_OK : E_FAIL;
  }

  HRESULT outcome = S_OK;
  for (const char* key : {classKey.c_str(), versionIndependentProgId, progId}) {
    LONG lResult = deleteKeyTree(HKEY_CLASSES_ROOT, key);
    if (!REGISTRY_CHECK((lResult == ERROR_SUCCESS) || (lResult == ERROR_FILE_NOT_FOUND))) {
      outcome = E_FAIL;
    }
  }
  return outcome;
}

bool clsidToText(REFCLSID classId, char* buffer, int length) {
  if (!REGISTRY_CHECK(length >= CLSID_STRING_SIZE)) {
    if (buffer != nullptr && length > 0) buffer[0] = '\0';
    return false;
  }
  buffer[0] = '\0';
  LPOLESTR wideText = nullptr;
  HRESULT hr = StringFromCLSID(classId, &wideText);
  if (!REGISTRY_CHECK(SUCCEEDED(hr))) return false;
  int converted = WideCharToMultiByte(CP_ACP, 0, wideText, -1, buffer, length, nullptr, nullptr);
  CoTaskMemFree(wideText);
  if (!REGISTRY_CHECK(converted == CLSID_STRING_SIZE)) {
    buffer[0] = '\0';
    return false;
  }
  return true;
}

bool writeKeyValue(HKEY root, const char* key, const char* subkey, const char* value, DWORD type,
                   DWORD size) {
  velt::UniqueRegistryKey opened;
  std::string path = keyPath(key, subkey);
  LSTATUS status = RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                   KEY_ALL_ACCESS, nullptr, opened.put(), nullptr);
  if (status != ERROR_SUCCESS) {
    reportFailedCall("RegCreateKeyExA", root, path, status);
    return false;
  }
  if (value != nullptr) {
    status =
        RegSetValueExA(opened.get(), nullptr, 0, type, reinterpret_cast<const BYTE*>(value), size);
    if (status != ERROR_SUCCESS) reportFailedCall("RegSetValueExA", root, path, status);
  }
  return status == ERROR_SUCCESS;
}

LONG deleteKeyTree(HKEY parent, const char* name) { return velt::deleteRegistryTree(parent, name); }

bool hasSubkey(HKEY root, const char* key, const char* subkey) {
  velt::UniqueRegistryKey opened;
  return RegOpenKeyExA(root, keyPath(key, subkey).c_str(), 0, KEY_ALL_ACCESS, opened.put()) ==
         ERROR_SUCCESS;
}
