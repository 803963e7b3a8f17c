// Self-registration as a COM local server: the class key with its "LocalServer32" path and
// the two ProgID keys under HKEY_CLASSES_ROOT.
#pragma once

#include <windows.h>

#include <objbase.h>

// A class identifier as text, braces included, plus the terminating zero.
constexpr int CLSID_STRING_SIZE = 39;

// Both return S_OK, or E_FAIL when one of their checks failed or an entry could not be
// written; each failure has already been reported (trace log and debug output) by then.
HRESULT registerComponent(HMODULE module, REFCLSID classId, const char* friendlyName,
                          const char* versionIndependentProgId, const char* progId);
HRESULT unregisterComponent(REFCLSID classId, const char* versionIndependentProgId,
                            const char* progId);

// Writes the braced text of `classId` into `buffer`; false (after reporting) when the buffer
// is too small or the text could not be made, and the buffer then holds an empty text.
bool clsidToText(REFCLSID classId, char* buffer, int length);

// Creates or opens root\key[\subkey] and, when `value` is given, sets its default value.
// True when both succeeded; otherwise the failing call, its key and the system's reason are
// reported (trace log and debug output).
bool writeKeyValue(HKEY root, const char* key, const char* subkey, const char* value, DWORD type,
                   DWORD size);

// Deletes parent\name with everything below it, depth first; the system's error code.
LONG deleteKeyTree(HKEY parent, const char* name);

// True when root\key[\subkey] exists and can be opened with full access.
bool hasSubkey(HKEY root, const char* key, const char* subkey);
