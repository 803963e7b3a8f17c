#include "registry_session.h"

#include <unistd.h>

#include "store_location.h"
#include "winplatform/registry_hooks.h"

namespace velt::registry {
namespace {

constexpr REGSAM kGenericRead = 0x80000000u;
constexpr REGSAM kGenericWrite = 0x40000000u;
constexpr REGSAM kGenericExecute = 0x20000000u;
constexpr REGSAM kGenericAll = 0x10000000u;
constexpr REGSAM kMaximumAllowed = 0x02000000u;

// Generic rights stand for the key-specific ones they map to on Windows.
REGSAM effectiveRights(REGSAM desired) {
  REGSAM rights = desired & KEY_ALL_ACCESS;
  if (desired & (kGenericAll | kMaximumAllowed)) rights |= KEY_ALL_ACCESS;
  if (desired & (kGenericRead | kGenericExecute)) rights |= KEY_READ;
  if (desired & kGenericWrite) rights |= KEY_WRITE;
  return rights;
}

// The predefined roots are rows 1 to 4 of the store.
std::optional<KeyId> rootKey(HKEY handle) {
  if (handle == HKEY_CLASSES_ROOT) return 1;
  if (handle == HKEY_CURRENT_USER) return 2;
  if (handle == HKEY_LOCAL_MACHINE) return 3;
  if (handle == HKEY_USERS) return 4;
  return std::nullopt;
}

}  // namespace

Session& Session::instance() {
  static Session session;
  return session;
}

Connection& Session::connection() {
  pid_t self = getpid();
  if (m_db && m_owner != self) {
    // A forked child inherits the parent's connection but must never use it.
    m_db->abandon();
    m_db.reset();
  }
  if (!m_db) {
    std::string path = registryFilePath();
    if (path.empty()) throw StoreError{ERROR_CANTOPEN};
    m_db = std::make_unique<Connection>(path);
    m_owner = self;
  }
  return *m_db;
}

LSTATUS Session::resolve(KeyStore& store, HKEY handle, REGSAM needed, KeyId& key) {
  if (std::optional<KeyId> root = rootKey(handle)) {
    key = *root;
    return ERROR_SUCCESS;
  }
  auto found = m_handles.find(reinterpret_cast<uintptr_t>(handle));
  if (found == m_handles.end()) return ERROR_INVALID_HANDLE;
  if ((found->second.rights & needed) != needed) return ERROR_ACCESS_DENIED;
  if (!store.exists(found->second.key)) return ERROR_KEY_DELETED;
  key = found->second.key;
  return ERROR_SUCCESS;
}

HKEY Session::addHandle(KeyId key, REGSAM desired) {
  std::lock_guard lock(m_mutex);
  uintptr_t handle = m_nextHandle;
  m_nextHandle += 4;
  m_handles.emplace(handle, OpenKey{key, effectiveRights(desired)});
  return reinterpret_cast<HKEY>(handle);
}

bool Session::closeHandle(HKEY handle) {
  if (rootKey(handle)) return true;
  std::lock_guard lock(m_mutex);
  return m_handles.erase(reinterpret_cast<uintptr_t>(handle)) == 1;
}

void Session::reset() {
  std::lock_guard lock(m_mutex);
  m_db.reset();
  m_handles.clear();
}

}  // namespace velt::registry

extern "C" void VeltRegistryReset(void) { velt::registry::Session::instance().reset(); }
