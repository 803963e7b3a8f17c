// The process's view of the registry: the lazily opened store, the table of open key handles
// with the listings enumerated through them, and the one lock that serialises all of it
// (handles may be used from any thread).
#pragma once

#include <sys/types.h>
#include <windows.h>

#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "key_store.h"
#include "sqlite_db.h"

namespace velt::registry {

class Session {
 public:
  static Session& instance();

  // Runs body(store) as one transaction under the lock; commits when it answers
  // ERROR_SUCCESS, otherwise rolls back. Store failures become their error codes, and their
  // detail the calling thread's last failure. A call that only reads never creates or
  // changes the file: a missing one reads as an empty registry.
  template <class Body>
  LSTATUS run(bool write, Body&& body) {
    noteFailure({});
    try {
      std::lock_guard lock(m_mutex);
      Connection& db = connection(write);
      Transaction transaction(db, write);
      KeyStore store(db);
      LSTATUS status = body(store);
      if (status == ERROR_SUCCESS) {
        transaction.commit();
        if (write) ++m_ownWrites;
      }
      return status;
    } catch (const StoreError& error) {
      noteFailure(error.detail);
      return error.code;
    } catch (const std::bad_alloc&) {
      return ERROR_OUTOFMEMORY;
    }
  }

  // run() for a call made through a key handle: body(store, key) sees only a key that still
  // exists and that the handle holds the `needed` rights on; otherwise the call answers why not.
  template <class Body>
  LSTATUS runOnKey(bool write, HKEY handle, REGSAM needed, Body&& body) {
    return run(write, [&](KeyStore& store) -> LSTATUS {
      KeyId key = 0;
      if (LSTATUS found = resolve(store, handle, needed, key); found != ERROR_SUCCESS) {
        return found;
      }
      return body(store, key);
    });
  }

  // Inside run() only: the key behind a handle, checked for the rights the call needs and for
  // still existing.
  LSTATUS resolve(KeyStore& store, HKEY handle, REGSAM needed, KeyId& key);

  // Inside run() only: the names of the key's subkeys or values in enumeration order. Kept
  // per handle and read again only after the store changed, so that enumerating by index
  // costs one query for the whole listing rather than one per item.
  enum class Listing { Subkeys, Values };
  const std::vector<std::string>& listing(KeyStore& store, HKEY handle, KeyId key, Listing kind);

  // Outside run(): hands out and takes back handles.
  HKEY addHandle(KeyId key, REGSAM desired);
  bool closeHandle(HKEY handle);

  // Drops the store and every handle; the next call opens the store afresh.
  void reset();

  // What made the calling thread's last call fail in the store; empty after a success.
  static const std::string& lastFailure();

 private:
  struct OpenKey {
    KeyId key;
    REGSAM rights;
  };
  // When a listing was read: which connection, after how many own writes, at which version
  // of the file as other processes left it.
  struct Stamp {
    uint64_t connection = 0;
    uint64_t ownWrites = 0;
    int64_t dataVersion = 0;
    bool operator==(const Stamp&) const = default;
  };
  struct CachedListing {
    KeyId key = 0;
    Stamp stamp;
    std::vector<std::string> names;
  };

  Connection& connection(bool write);
  Connection& emptyStore();
  static void noteFailure(std::string detail);

  std::mutex m_mutex;
  std::unique_ptr<Connection> m_db;
  std::unique_ptr<Connection> m_empty;  // stands in for a file that does not exist yet
  pid_t m_owner = 0;
  // Numbers the connections opened, so that a listing read through one is never taken for
  // current through another; 0 is none.
  uint64_t m_connections = 0;
  uint64_t m_dbNumber = 0;
  uint64_t m_emptyNumber = 0;
  uint64_t m_current = 0;
  uint64_t m_ownWrites = 0;
  std::unordered_map<uintptr_t, OpenKey> m_handles;
  std::unordered_map<uintptr_t, CachedListing> m_listings[2];
  // Never reused, so a stale handle is told apart from a live one.
  uintptr_t m_nextHandle = 0x1000;
};

}  // namespace velt::registry
