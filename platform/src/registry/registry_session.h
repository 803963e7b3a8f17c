// The process's view of the registry: the lazily opened store, the table of open key handles
// and the one lock that serialises both (handles may be used from any thread).
#pragma once

#include <sys/types.h>
#include <windows.h>

#include <memory>
#include <mutex>
#include <new>
#include <unordered_map>

#include "key_store.h"
#include "sqlite_db.h"

namespace velt::registry {

class Session {
 public:
  static Session& instance();

  // Runs body(store) as one transaction under the lock; commits when it answers
  // ERROR_SUCCESS, otherwise rolls back. Store failures become their error codes.
  template <class Body>
  LSTATUS run(bool write, Body&& body) {
    try {
      std::lock_guard lock(m_mutex);
      Connection& db = connection();
      Transaction transaction(db, write);
      KeyStore store(db);
      LSTATUS status = body(store);
      if (status == ERROR_SUCCESS) transaction.commit();
      return status;
    } catch (const StoreError& error) {
      return error.code;
    } catch (const std::bad_alloc&) {
      return ERROR_OUTOFMEMORY;
    }
  }

  // Inside run() only: the key behind a handle, checked for the rights the call needs and for
  // still existing.
  LSTATUS resolve(KeyStore& store, HKEY handle, REGSAM needed, KeyId& key);

  // Outside run(): hands out and takes back handles.
  HKEY addHandle(KeyId key, REGSAM desired);
  bool closeHandle(HKEY handle);

  // Drops the store and every handle; the next call opens the store afresh.
  void reset();

 private:
  struct OpenKey {
    KeyId key;
    REGSAM rights;
  };

  Connection& connection();

  std::mutex m_mutex;
  std::unique_ptr<Connection> m_db;
  pid_t m_owner = 0;
  std::unordered_map<uintptr_t, OpenKey> m_handles;
  // Never reused, so a stale handle is told apart from a live one.
  uintptr_t m_nextHandle = 0x1000;
};

}  // namespace velt::registry
