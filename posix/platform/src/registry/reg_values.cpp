// The value functions of the registry API. A value keeps its type and its exact bytes; the
// default value of a key is the one with the empty name.
#include <windows.h>

#include <cstring>

#include "key_path.h"
#include "registry_session.h"

using velt::registry::KeyId;
using velt::registry::KeyStore;
using velt::registry::kMaxValueNameLength;
using velt::registry::Session;
using velt::registry::StoredValue;

namespace {

std::string valueNameOf(LPCSTR name) { return name == nullptr ? std::string() : std::string(name); }

// Copies the data when the buffer takes it; reports the stored size either way.
LSTATUS deliverData(const std::string& data, LPBYTE buffer, LPDWORD size) {
  if (size == nullptr) return ERROR_SUCCESS;
  DWORD available = *size;
  *size = static_cast<DWORD>(data.size());
  if (buffer == nullptr) return ERROR_SUCCESS;
  if (available < data.size()) return ERROR_MORE_DATA;
  if (!data.empty()) std::memcpy(buffer, data.data(), data.size());
  return ERROR_SUCCESS;
}

}  // namespace

extern "C" {

LSTATUS WINAPI RegSetValueExA(HKEY key, LPCSTR valueName, DWORD, DWORD type, const BYTE* data,
                              DWORD size) {
  if (data == nullptr && size != 0) return ERROR_INVALID_PARAMETER;
  std::string name = valueNameOf(valueName);
  if (velt::registry::nameLength(name) > kMaxValueNameLength) return ERROR_INVALID_PARAMETER;
  Session& session = Session::instance();
  return session.runOnKey(true, key, KEY_SET_VALUE, [&](KeyStore& store, KeyId target) -> LSTATUS {
    store.setValue(target, name, type, data, size);
    return ERROR_SUCCESS;
  });
}

LSTATUS WINAPI RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type,
                                LPBYTE data, LPDWORD size) {
  if (reserved != nullptr || (data != nullptr && size == nullptr)) return ERROR_INVALID_PARAMETER;
  std::string name = valueNameOf(valueName);
  Session& session = Session::instance();
  auto query = [&](KeyStore& store, KeyId target) -> LSTATUS {
    std::optional<StoredValue> value = store.value(target, name);
    if (!value) return ERROR_FILE_NOT_FOUND;
    if (type != nullptr) *type = value->type;
    return deliverData(value->data, data, size);
  };
  return session.runOnKey(false, key, KEY_QUERY_VALUE, query);
}

LSTATUS WINAPI RegDeleteValueA(HKEY key, LPCSTR valueName) {
  std::string name = valueNameOf(valueName);
  Session& session = Session::instance();
  return session.runOnKey(true, key, KEY_SET_VALUE, [&](KeyStore& store, KeyId target) -> LSTATUS {
    return store.removeValue(target, name) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
  });
}

LSTATUS WINAPI RegEnumValueA(HKEY key, DWORD index, LPSTR valueName, LPDWORD valueNameSize,
                             LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataSize) {
  if (valueName == nullptr || valueNameSize == nullptr || reserved != nullptr ||
      (data != nullptr && dataSize == nullptr)) {
    return ERROR_INVALID_PARAMETER;
  }
  Session& session = Session::instance();
  auto enumerate = [&](KeyStore& store, KeyId target) -> LSTATUS {
    const std::vector<std::string>& names =
        session.listing(store, key, target, Session::Listing::Values);
    if (index >= names.size()) return ERROR_NO_MORE_ITEMS;
    std::optional<StoredValue> value = store.value(target, names[index]);
    if (!value) return ERROR_NO_MORE_ITEMS;
    // As on Windows, a short name buffer leaves its size untouched.
    if (value->name.size() >= *valueNameSize) return ERROR_MORE_DATA;
    std::memcpy(valueName, value->name.c_str(), value->name.size() + 1);
    *valueNameSize = static_cast<DWORD>(value->name.size());
    if (type != nullptr) *type = value->type;
    return deliverData(value->data, data, dataSize);
  };
  return session.runOnKey(false, key, KEY_QUERY_VALUE, enumerate);
}

}  // extern "C"
