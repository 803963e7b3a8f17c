#include "call_chunks.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>

namespace velt::wmi::remote {
namespace {

// A thread's first chunk is small, so that a thread that sends one call now and then keeps
// little; each next chunk doubles up to the largest.
constexpr size_t kFirstChunkWords = 512;
// A whole batch, and the word before it that points back to its chunk.
constexpr size_t kLargestChunkWords = kBatchBytes / sizeof(capnp::word) + 64;

// One allocation: this header, then the words. Each call's copy is preceded by one word that
// points back here, which is how a dropped array finds its chunk.
class Chunk {
 public:
  static Chunk* make(size_t words) {
    void* memory = ::operator new(sizeof(Chunk) + words * sizeof(capnp::word));
    return new (memory) Chunk(words);
  }
  size_t room() const { return m_capacity - m_used; }
  // Writer thread: `words` words for a call, the word before them pointing here.
  capnp::word* take(size_t words) {
    capnp::word* at = this->words() + m_used;
    Chunk* self = this;
    std::memcpy(static_cast<void*>(at), &self, sizeof self);
    m_used += words + 1;
    m_holders.fetch_add(1, std::memory_order_relaxed);
    return at + 1;
  }
  static Chunk* of(const void* call) {
    Chunk* chunk;
    std::memcpy(&chunk, static_cast<const capnp::word*>(call) - 1, sizeof chunk);
    return chunk;
  }
  // Any thread: one holder (a call, or the writer) lets go.
  void release();
  // Writer thread: the chunk is taken again, empty.
  void reuse() {
    m_used = 0;
    m_holders.store(1, std::memory_order_relaxed);
  }
  void destroy() {
    this->~Chunk();
    ::operator delete(this);
  }

 private:
  explicit Chunk(size_t capacity) : m_capacity(capacity) {}
  capnp::word* words() { return reinterpret_cast<capnp::word*>(this + 1); }

  std::atomic<size_t> m_holders{1};  // the writer, until the chunk is full
  const size_t m_capacity;
  size_t m_used = 0;  // writer thread only
};
static_assert(sizeof(Chunk) % sizeof(capnp::word) == 0);
static_assert(sizeof(Chunk*) <= sizeof(capnp::word));

// Chunks of the largest size, kept for the next writer once all their calls went. A streaming
// provider would otherwise fill fresh memory for every chunk: freed chunks go back to the
// system, and each new one costs page faults on its first writes.
class SparePool {
 public:
  // Up to this many, as much as an outbox may hold queued.
  static constexpr size_t kKept = 8;

  Chunk* take() {
    std::lock_guard lock(m_mutex);
    if (m_count == 0) return nullptr;
    return m_spare[--m_count];
  }
  // Whether the pool kept `chunk`.
  bool keep(Chunk* chunk) {
    std::lock_guard lock(m_mutex);
    if (m_count == kKept) return false;
    m_spare[m_count++] = chunk;
    return true;
  }

 private:
  std::mutex m_mutex;
  std::array<Chunk*, kKept> m_spare{};
  size_t m_count = 0;
};

SparePool& sparePool() {
  static SparePool* pool = new SparePool;  // never destroyed: chunks may go after static teardown
  return *pool;
}

void Chunk::release() {
  if (m_holders.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  if (m_capacity == kLargestChunkWords && sparePool().keep(this)) return;
  destroy();
}

class ChunkDisposer final : public kj::ArrayDisposer {
 protected:
  void disposeImpl(void* firstElement, size_t, size_t, size_t, void (*)(void*)) const override {
    Chunk::of(firstElement)->release();
  }
};
const ChunkDisposer chunkDisposer;

struct Writer {
  Chunk* current = nullptr;
  size_t nextWords = kFirstChunkWords;
  ~Writer() {
    if (current != nullptr) current->release();
  }
  capnp::word* take(size_t words) {
    if (current == nullptr || current->room() < words + 1) {
      if (current != nullptr) current->release();
      Chunk* spare = nullptr;
      if (nextWords == kLargestChunkWords && words + 1 <= kLargestChunkWords) {
        spare = sparePool().take();
      }
      if (spare != nullptr) {
        spare->reuse();
        current = spare;
      } else {
        current = Chunk::make(std::max(nextWords, words + 1));
      }
      nextWords = std::min(nextWords * 2, kLargestChunkWords);
    }
    return current->take(words);
  }
};
thread_local Writer writer;

}  // namespace

kj::Array<capnp::word> copyToChunk(capnp::MessageBuilder& message) {
  auto segments = message.getSegmentsForOutput();
  const size_t tableWords = segments.size() / 2 + 1;
  size_t words = tableWords;
  for (auto segment : segments) words += segment.size();
  capnp::word* at = writer.take(words);
  // The segment table: the count less one, each segment's size, padded to a whole word. (The
  // library's writeMessage into an ArrayOutputStream writes the same bytes, at some 6 % more of
  // a streaming server's CPU per object.)
  auto* table = reinterpret_cast<uint32_t*>(at);
  std::memset(table, 0, tableWords * sizeof(capnp::word));
  table[0] = static_cast<uint32_t>(segments.size() - 1);
  capnp::word* next = at + tableWords;
  for (size_t i = 0; i < segments.size(); ++i) {
    table[i + 1] = static_cast<uint32_t>(segments[i].size());
    std::memcpy(static_cast<void*>(next), segments[i].begin(),
                segments[i].size() * sizeof(capnp::word));
    next += segments[i].size();
  }
  return kj::Array<capnp::word>(at, words, chunkDisposer);
}

kj::Array<capnp::word> copyToChunk(kj::ArrayPtr<const kj::byte> bytes) {
  const size_t words = bytes.size() / sizeof(capnp::word);
  capnp::word* at = writer.take(words);
  std::memcpy(static_cast<void*>(at), bytes.begin(), words * sizeof(capnp::word));
  return kj::Array<capnp::word>(at, words, chunkDisposer);
}

}  // namespace velt::wmi::remote
