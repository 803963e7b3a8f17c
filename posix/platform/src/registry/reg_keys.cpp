// The key functions of the registry API.
#include <windows.h>

#include <cstring>

#include "key_path.h"
#include "registry_session.h"

using velt::registry::KeyId;
using velt::registry::KeyStore;
using velt::registry::Session;
using velt::registry::splitKeyPath;

extern "C" {

LSTATUS WINAPI RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM desired,
                               LPSECURITY_ATTRIBUTES, PHKEY result, LPDWORD disposition) {
  // Volatile keys are kept like any other: the store has no notion of a boot.
  if (result == nullptr || subKey == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  std::vector<std::string> names;
  if (LSTATUS status = splitKeyPath(subKey, names); status != ERROR_SUCCESS) return status;
  Session& session = Session::instance();
  KeyId opened = 0;
  bool created = false;
  LSTATUS status = session.runOnKey(true, key, 0, [&](KeyStore& store, KeyId parent) -> LSTATUS {
    opened = parent;
    for (const std::string& name : names) {
      if (std::optional<KeyId> child = store.child(opened, name)) {
        opened = *child;
        continue;
      }
      if (!created) {
        // Creating needs the right on the handle given, not on the keys below it.
        KeyId ignored = 0;
        if (LSTATUS allowed = session.resolve(store, key, KEY_CREATE_SUB_KEY, ignored);
            allowed != ERROR_SUCCESS) {
          return allowed;
        }
      }
      opened = store.addChild(opened, name);
      created = true;
    }
    return ERROR_SUCCESS;
  });
  if (status != ERROR_SUCCESS) return status;
  *result = session.addHandle(opened, desired);
  if (disposition != nullptr)
    *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM desired, PHKEY result) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  std::vector<std::string> names;
  if (LSTATUS status = splitKeyPath(subKey, names); status != ERROR_SUCCESS) return status;
  Session& session = Session::instance();
  KeyId opened = 0;
  LSTATUS status = session.runOnKey(false, key, 0, [&](KeyStore& store, KeyId parent) -> LSTATUS {
    std::optional<KeyId> target = store.descend(parent, names);
    if (!target) return ERROR_FILE_NOT_FOUND;
    opened = *target;
    return ERROR_SUCCESS;
  });
  if (status != ERROR_SUCCESS) return status;
  *result = Session::instance().addHandle(opened, desired);
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCloseKey(HKEY key) {
  return Session::instance().closeHandle(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LSTATUS WINAPI RegDeleteKeyA(HKEY key, LPCSTR subKey) {
  if (subKey == nullptr) return ERROR_INVALID_PARAMETER;
  std::vector<std::string> names;
  if (LSTATUS status = splitKeyPath(subKey, names); status != ERROR_SUCCESS) return status;
  Session& session = Session::instance();
  return session.runOnKey(true, key, 0, [&](KeyStore& store, KeyId parent) -> LSTATUS {
    std::optional<KeyId> target = store.descend(parent, names);
    if (!target) return ERROR_FILE_NOT_FOUND;
    // The roots stay, and a key with subkeys is refused as on Windows: callers delete a tree
    // depth first.
    if (*target <= 4 || store.hasChildren(*target)) return ERROR_ACCESS_DENIED;
    store.remove(*target);
    return ERROR_SUCCESS;
  });
}

LSTATUS WINAPI RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD,
                             LPSTR keyClass, LPDWORD classSize, FILETIME* lastWriteTime) {
  if (name == nullptr || nameSize == nullptr) return ERROR_INVALID_PARAMETER;
  Session& session = Session::instance();
  auto enumerate = [&](KeyStore& store, KeyId parent) -> LSTATUS {
    const std::vector<std::string>& children =
        session.listing(store, key, parent, Session::Listing::Subkeys);
    if (index >= children.size()) return ERROR_NO_MORE_ITEMS;
    const std::string* child = &children[index];
    if (child->size() >= *nameSize) return ERROR_MORE_DATA;
    std::memcpy(name, child->c_str(), child->size() + 1);
    *nameSize = static_cast<DWORD>(child->size());
    // Keys carry no class and no write time here.
    if (classSize != nullptr) {
      if (keyClass != nullptr && *classSize > 0) keyClass[0] = '\0';
      *classSize = 0;
    }
    if (lastWriteTime != nullptr) *lastWriteTime = FILETIME{0, 0};
    return ERROR_SUCCESS;
  };
  return session.runOnKey(false, key, KEY_ENUMERATE_SUB_KEYS, enumerate);
}

}  // extern "C"
