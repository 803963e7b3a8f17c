#include "wmi_model/low_arena.h"

#include <sys/mman.h>

#include <algorithm>
#include <array>
#include <mutex>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define VELT_POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define VELT_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
#else
#define VELT_POISON(p, n) ((void)(p), (void)(n))
#define VELT_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace velt::wmi {
namespace {

constexpr std::size_t kRegionBytes = 64u << 20;
constexpr std::size_t kSmallestBlock = 64;
constexpr std::size_t kClassCount = 7;  // 64 .. 4096 bytes
constexpr std::uintptr_t kTwoGiB = 0x80000000u;

// Where the regions are tried, in order. The low hints stay under AddressSanitizer's shadow
// (which begins just below 2 GiB); the high hints lie between 2 and 4 GiB.
constexpr std::array<std::uintptr_t, 5> kLowHints = {0x70000000u, 0x60000000u, 0x50000000u,
                                                     0x40000000u, 0x30000000u};
constexpr std::array<std::uintptr_t, 6> kHighHints = {0x80000000u, 0x90000000u, 0xA0000000u,
                                                      0xB0000000u, 0xC0000000u, 0xD0000000u};

int sizeClass(std::size_t bytes) {
  std::size_t block = kSmallestBlock;
  for (std::size_t c = 0; c < kClassCount; ++c, block <<= 1) {
    if (bytes <= block) return static_cast<int>(c);
  }
  return -1;
}

struct FreeBlock {
  FreeBlock* next;
};

// Links block `p` of class `cls` before `next`. The link stays readable; the rest of the block is
// poisoned to catch use after release.
FreeBlock* linkPoisoned(void* p, int cls, FreeBlock* next) {
  auto* f = static_cast<FreeBlock*>(p);
  f->next = next;
  VELT_POISON(reinterpret_cast<char*>(p) + sizeof(FreeBlock),
              (kSmallestBlock << cls) - sizeof(FreeBlock));
  return f;
}

struct Region {
  std::uintptr_t base = 0;
  std::uintptr_t next = 0;
  std::uintptr_t end = 0;
  std::array<FreeBlock*, kClassCount> freeLists{};

  bool contains(const void* p) const {
    auto a = reinterpret_cast<std::uintptr_t>(p);
    return a >= base && a < end;
  }

  void* take(int cls) {
    std::size_t block = kSmallestBlock << cls;
    if (FreeBlock* f = freeLists[cls]) {
      VELT_UNPOISON(f, block);
      freeLists[cls] = f->next;
      return f;
    }
    if (end - next < block) return nullptr;
    void* p = reinterpret_cast<void*>(next);
    next += block;
    VELT_UNPOISON(p, block);
    return p;
  }

  void give(void* p, int cls) { freeLists[cls] = linkPoisoned(p, cls, freeLists[cls]); }
};

template <std::size_t N>
bool reserveAt(const std::array<std::uintptr_t, N>& hints, Region& region) {
  for (std::uintptr_t hint : hints) {
    void* want = reinterpret_cast<void*>(hint);
    void* got = mmap(want, kRegionBytes, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED_NOREPLACE, -1, 0);
    if (got == MAP_FAILED) continue;
    if (got != want) {  // a kernel that ignores the no-replace flag placed it elsewhere
      munmap(got, kRegionBytes);
      continue;
    }
    region.base = region.next = hint;
    region.end = hint + kRegionBytes;
    VELT_POISON(got, kRegionBytes);
    return true;
  }
  return false;
}

class Arena {
 public:
  Arena() {
#if !defined(__SANITIZE_ADDRESS__)
    if (reserveAt(kHighHints, m_regions[m_count])) ++m_count;
#endif
    if (reserveAt(kLowHints, m_regions[m_count])) ++m_count;
    m_hasHigh = m_count > 0 && m_regions[0].base >= kTwoGiB;
  }

  bool usable() const { return m_count > 0; }
  bool hasHigh() const { return m_hasHigh; }

  void* allocate(std::size_t bytes) {
    int cls = sizeClass(bytes);
    if (cls < 0 || m_count == 0) return nullptr;
    std::lock_guard<std::mutex> lock(m_mutex);
    return takeLocked(cls);
  }

  void release(void* p, std::size_t bytes) {
    int cls = sizeClass(bytes);
    if (!p || cls < 0) return;
    std::lock_guard<std::mutex> lock(m_mutex);
    giveLocked(p, cls);
  }

  // Up to `count` blocks of class `cls` for a thread's cache, linked through their first word
  // and left poisoned past it; fewer when the regions are full.
  FreeBlock* takeMany(int cls, unsigned count, unsigned& taken) {
    FreeBlock* list = nullptr;
    taken = 0;
    std::lock_guard<std::mutex> lock(m_mutex);
    for (; taken < count; ++taken) {
      void* p = takeLocked(cls);
      if (p == nullptr) break;
      list = linkPoisoned(p, cls, list);
    }
    return list;
  }

  // Gives back a thread's cached list of class `cls`.
  void giveMany(FreeBlock* list, int cls) {
    std::lock_guard<std::mutex> lock(m_mutex);
    while (list != nullptr) {
      FreeBlock* next = list->next;
      giveLocked(list, cls);
      list = next;
    }
  }

 private:
  // Blocks come from the regions in turn, so that a run of objects lies in both.
  void* takeLocked(int cls) {
    unsigned first = m_turn++ % m_count;
    for (unsigned i = 0; i < m_count; ++i) {
      if (void* p = m_regions[(first + i) % m_count].take(cls)) return p;
    }
    return nullptr;
  }

  void giveLocked(void* p, int cls) {
    for (unsigned i = 0; i < m_count; ++i) {
      if (m_regions[i].contains(p)) {
        m_regions[i].give(p, cls);
        return;
      }
    }
  }

  std::mutex m_mutex;
  std::array<Region, 2> m_regions{};
  unsigned m_count = 0;
  unsigned m_turn = 0;
  bool m_hasHigh = false;
};

Arena& arena() {
  static Arena* instance = new Arena();  // never destroyed: objects may outlive static teardown
  return *instance;
}

// Taken as the library loads, ahead of any Java VM that might claim the low addresses.
[[maybe_unused]] const bool g_reservedAtLoad = reserveLowArena();

// Each thread keeps a few free blocks of each class, so that a thread making and dropping
// objects takes the arena's lock once per batch, not per object: objects made on one thread
// and released on another (as objects received from another process are) would otherwise
// meet on that lock every time.
constexpr std::size_t kCacheBytesPerClass = 16u << 10;

unsigned cacheLimit(int cls) {
  return static_cast<unsigned>(std::max<std::size_t>(8, kCacheBytesPerClass >> (6 + cls)));
}

// Constant-initialised and trivially destructible, so that it is there for every release a
// thread makes, even from the destructors of other thread-local objects after `CacheFlush`
// gave its blocks back; from then on the thread goes to the arena directly.
struct ThreadCache {
  std::array<FreeBlock*, kClassCount> lists;
  std::array<unsigned, kClassCount> counts;
  bool started;
  bool ended;
};
constinit thread_local ThreadCache cache{};

struct CacheFlush {
  bool armed = false;
  ~CacheFlush() {
    cache.ended = true;
    for (std::size_t c = 0; c < kClassCount; ++c) {
      arena().giveMany(cache.lists[c], static_cast<int>(c));
      cache.lists[c] = nullptr;
      cache.counts[c] = 0;
    }
  }
};
thread_local CacheFlush cacheFlush;

bool cacheUsable() {
  if (cache.ended) return false;
  if (!cache.started) {
    cache.started = true;
    cacheFlush.armed = true;  // the first use registers the flush for this thread's end
  }
  return true;
}

}  // namespace

bool reserveLowArena() { return arena().usable(); }

void* lowArenaAllocate(std::size_t bytes) {
  const int cls = sizeClass(bytes);
  if (cls < 0 || !arena().usable()) return nullptr;
  if (!cacheUsable()) return arena().allocate(bytes);
  FreeBlock*& list = cache.lists[cls];
  if (list == nullptr) {
    unsigned taken = 0;
    list = arena().takeMany(cls, cacheLimit(cls) / 2, taken);
    cache.counts[cls] = taken;
    if (list == nullptr) return nullptr;
  }
  FreeBlock* block = list;
  VELT_UNPOISON(block, kSmallestBlock << cls);
  list = block->next;
  --cache.counts[cls];
  return block;
}

void lowArenaFree(void* block, std::size_t bytes) {
  const int cls = sizeClass(bytes);
  if (block == nullptr || cls < 0) return;
  if (!cacheUsable()) return arena().release(block, bytes);
  cache.lists[cls] = linkPoisoned(block, cls, cache.lists[cls]);
  if (++cache.counts[cls] <= cacheLimit(cls)) return;
  // Full: half goes back, the blocks freed longest ago.
  FreeBlock* keep = cache.lists[cls];
  for (unsigned i = 1; i < cacheLimit(cls) / 2; ++i) keep = keep->next;
  FreeBlock* back = keep->next;
  keep->next = nullptr;
  cache.counts[cls] = cacheLimit(cls) / 2;
  arena().giveMany(back, cls);
}

bool lowArenaHasHighRegion() { return arena().hasHigh(); }

}  // namespace velt::wmi
