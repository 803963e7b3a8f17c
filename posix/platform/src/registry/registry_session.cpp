#include "registry_session.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "store_location.h"
#include "winplatform/registry_hooks.h"

namespace velt::registry {
namespace {

thread_local std::string t_lastFailure;

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

const std::string& Session::lastFailure() { return t_lastFailure; }

void Session::noteFailure(std::string detail) { t_lastFailure = std::move(detail); }

Connection& Session::connection(bool write) {
  pid_t self = getpid();
  if (m_owner != self) {
    // A forked child inherits the parent's connections but must never use them.
    if (m_db) m_db->abandon();
    if (m_empty) m_empty->abandon();
    m_db.reset();
    m_empty.reset();
    m_owner = self;
  }
  if (m_db && (m_db->writable() || !write)) {
    m_current = m_dbNumber;
    return *m_db;
  }
  std::string path = registryFilePath(write);
  if (path.empty()) {
    throw StoreError{ERROR_CANTOPEN,
                     "no place for the registry file: neither VELT_REGISTRY nor XDG_DATA_HOME "
                     "nor HOME names one"};
  }
  struct stat info {};
  if (!write && stat(path.c_str(), &info) != 0 && (errno == ENOENT || errno == ENOTDIR)) {
    return emptyStore();
  }
  auto opened = std::make_unique<Connection>(path, write ? Access::Write : Access::Read);
  if (!opened->hasRegistry()) return emptyStore();
  m_db = std::move(opened);
  m_current = m_dbNumber = ++m_connections;
  return *m_db;
}

Connection& Session::emptyStore() {
  if (!m_empty) {
    m_empty = std::make_unique<Connection>(":memory:", Access::Write);
    m_emptyNumber = ++m_connections;
  }
  m_current = m_emptyNumber;
  return *m_empty;
}

const std::vector<std::string>& Session::listing(KeyStore& store, HKEY handle, KeyId key,
                                                 Listing kind) {
  Stamp now{m_current, m_ownWrites, store.dataVersion()};
  CachedListing& cached = m_listings[static_cast<int>(kind)][reinterpret_cast<uintptr_t>(handle)];
  if (cached.key != key || !(cached.stamp == now)) {
    cached.names = kind == Listing::Subkeys ? store.childNames(key) : store.valueNames(key);
    cached.key = key;
    cached.stamp = now;
  }
  return cached.names;
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
  for (auto& listings : m_listings) listings.erase(reinterpret_cast<uintptr_t>(handle));
  return m_handles.erase(reinterpret_cast<uintptr_t>(handle)) == 1;
}

void Session::reset() {
  std::lock_guard lock(m_mutex);
  m_db.reset();
  m_empty.reset();
  m_current = 0;
  m_handles.clear();
  for (auto& listings : m_listings) listings.clear();
}

}  // namespace velt::registry

extern "C" {

void VeltRegistryReset(void) { velt::registry::Session::instance().reset(); }

size_t VeltRegistryLastFailure(char* buffer, size_t size) {
  const std::string& text = velt::registry::Session::lastFailure();
  if (buffer != nullptr && size > 0) {
    size_t copied = std::min(size - 1, text.size());
    std::memcpy(buffer, text.data(), copied);
    buffer[copied] = '\0';
  }
  return text.size();
}

unsigned long long VeltRegistryStatementSteps(void) { return velt::registry::statementSteps(); }

}  // extern "C"
