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
    explicit Token(Lifetime& lifetime) : lifetime_(&lifetime) { ++lifetime_->objects_; }
    Token(const Token& other) : Token(*other.lifetime_) {}
    Token& operator=(const Token&) = delete;
    ~Token() { --lifetime_->objects_; }

   private:
    Lifetime* lifetime_;
  };

  void lock() { ++locks_; }
  void unlock() {
    // A client cannot unlock what it never locked.
    long current = locks_.load();
    while (current > 0 && !locks_.compare_exchange_weak(current, current - 1)) {
    }
  }
  bool inUse() const { return objects_ > 0 || locks_ > 0; }
  long objects() const { return objects_; }

 private:
  std::atomic<long> objects_{0};
  std::atomic<long> locks_{0};
};

}  // namespace veltwmid
