// What keeps the daemon running, as COM's lifetime rule counts for a local server: objects
// handed to clients and LockServer locks. The daemon ends once both are zero (and no provider
// is loaded) for its idle time.
#pragma once

#include <atomic>

namespace veltwmid {

class Lifetime {
 public:
  // Held by every object a client holds: counted while it lives.
  class Token {
   public:
    explicit Token(Lifetime& lifetime) : m_lifetime(&lifetime) { ++m_lifetime->m_objects; }
    Token(const Token& other) : Token(*other.m_lifetime) {}
    Token& operator=(const Token&) = delete;
    ~Token() { --m_lifetime->m_objects; }

   private:
    Lifetime* m_lifetime;
  };

  void lock() { ++m_locks; }
  void unlock() {
    // A client cannot unlock what it never locked.
    long current = m_locks.load();
    while (current > 0 && !m_locks.compare_exchange_weak(current, current - 1)) {
    }
  }
  bool inUse() const { return m_objects > 0 || m_locks > 0; }
  long objects() const { return m_objects; }

 private:
  std::atomic<long> m_objects{0};
  std::atomic<long> m_locks{0};
};

}  // namespace veltwmid
