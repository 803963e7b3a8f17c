#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "wmi_model/low_arena.h"
#include "wmi_test_support.h"

namespace velt::wmi::test {
namespace {

TEST(RecordingSinkTest, KeepsEachThreadsOrderUnderConcurrentIndicate) {
  Service service;
  service.loadMofText(kTestMof, "test.mof");
  IWbemServices* ns = nullptr;
  ASSERT_EQ(service.openNamespace(u"root\\test", &ns), WBEM_S_NO_ERROR);
  IWbemClassObject* cls = classOf(ns, u"Base");
  RecordingSink* sink = RecordingSink::create();
  constexpr int kThreads = 4, kEach = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        IWbemClassObject* instance = nullptr;
        cls->SpawnInstance(0, &instance);
        putInt(instance, u"Id", t * kEach + i);
        sink->Indicate(1, &instance);
        instance->Release();
      }
    });
  }
  for (auto& t : threads) t.join();
  sink->SetStatus(WBEM_STATUS_PROGRESS, S_OK, nullptr, nullptr);
  sink->SetStatus(WBEM_STATUS_COMPLETE, WBEM_E_FAILED, nullptr, nullptr);
  sink->SetStatus(WBEM_STATUS_COMPLETE, S_OK, nullptr, nullptr);  // only the first one counts
  ASSERT_EQ(sink->waitForFinalStatus(std::chrono::seconds(5)), WBEM_E_FAILED);

  std::vector<SinkEvent> events = sink->events();
  ASSERT_EQ(events.size(), std::size_t(kThreads * kEach + 3));
  std::vector<int> last(kThreads, -1);
  for (int i = 0; i < kThreads * kEach; ++i) {
    ASSERT_EQ(events[i].kind, SinkEvent::kIndicate);
    velt::OwnedVariant id;
    events[i].objects.at(0)->Get(u"Id", 0, id.get(), nullptr, nullptr);
    int thread = id.get()->lVal / kEach;
    EXPECT_GT(id.get()->lVal, last[thread]);  // each thread's objects arrive in its order
    last[thread] = id.get()->lVal;
  }
  EXPECT_EQ(events.back().kind, SinkEvent::kSetStatus);
  sink->Release();
  cls->Release();
  ns->Release();
  service.shutdown();
  EXPECT_EQ(liveObjectCount(), 0);
}

TEST(LiveObjectCountTest, CountsEveryObjectHandedOut) {
  long before = liveObjectCount();
  Service service;
  service.loadMofText(kTestMof, "test.mof");
  IWbemServices* ns = nullptr;
  service.openNamespace(u"root\\test", &ns);
  IWbemContext* context = nullptr;
  ASSERT_EQ(createContext(&context), WBEM_S_NO_ERROR);
  IWbemClassObject* cls = classOf(ns, u"Kinds");
  IWbemQualifierSet* qualifiers = nullptr;
  ASSERT_EQ(cls->GetPropertyQualifierSet(u"Name", &qualifiers), WBEM_S_NO_ERROR);
  EXPECT_EQ(qualifiers->Get(u"key", 0, nullptr, nullptr), WBEM_S_NO_ERROR);
  EXPECT_EQ(liveObjectCount(), before + 4);  // namespace, context, class, qualifier set
  qualifiers->Release();
  cls->Release();
  context->Release();
  EXPECT_EQ(liveObjectCount(), before + 1);  // the service still holds the namespace
  ns->Release();
  service.shutdown();
  EXPECT_EQ(liveObjectCount(), before);
}

TEST(ContextTest, HoldsNamedValues) {
  IWbemContext* context = nullptr;
  ASSERT_EQ(createContext(&context), WBEM_S_NO_ERROR);
  velt::OwnedVariant value;
  value.get()->vt = VT_I4;
  value.get()->lVal = 5;
  EXPECT_EQ(context->SetValue(u"Depth", 0, value.get()), WBEM_S_NO_ERROR);
  IWbemContext* copy = nullptr;
  context->Clone(&copy);
  context->DeleteAll();
  velt::OwnedVariant out;
  EXPECT_EQ(context->GetValue(u"depth", 0, out.get()), WBEM_E_NOT_FOUND);
  EXPECT_EQ(copy->GetValue(u"DEPTH", 0, out.get()), WBEM_S_NO_ERROR);
  EXPECT_EQ(out.get()->lVal, 5);
  copy->Release();
  context->Release();
}

TEST(LowArenaTest, ObjectsLieBelowFourGiBOnBothSidesOfTwoGiBAndMemoryIsReused) {
  ASSERT_TRUE(reserveLowArena());
  Service service;
  service.loadMofText(kTestMof, "test.mof");
  IWbemServices* ns = nullptr;
  service.openNamespace(u"root\\test", &ns);
  IWbemClassObject* cls = classOf(ns, u"Pair");
  std::vector<IWbemClassObject*> objects;
  bool high = false, low = false;
  for (int i = 0; i < 16; ++i) {
    IWbemClassObject* instance = nullptr;
    cls->SpawnInstance(0, &instance);
    auto address = reinterpret_cast<std::uintptr_t>(instance);
    EXPECT_LT(address, 0x100000000u);
    (address >= 0x80000000u ? high : low) = true;  // so that sign extension meets real pointers
    objects.push_back(instance);
  }
  EXPECT_LT(reinterpret_cast<std::uintptr_t>(ns), 0x100000000u);
  EXPECT_TRUE(low);
  EXPECT_EQ(high, lowArenaHasHighRegion());
  for (auto* o : objects) o->Release();
  cls->Release();
  ns->Release();

  std::vector<void*> blocks;
  for (int i = 0; i < 64; ++i) blocks.push_back(lowArenaAllocate(200));
  std::set<void*> released(blocks.begin(), blocks.end());
  EXPECT_EQ(released.count(nullptr), 0u);
  for (void* p : blocks) lowArenaFree(p, 200);
  for (int i = 0; i < 64; ++i) {
    void* p = lowArenaAllocate(180);  // same size class
    EXPECT_TRUE(released.count(p)) << "not reused";
    lowArenaFree(p, 180);
  }
  EXPECT_EQ(lowArenaAllocate(5000), nullptr);  // COM objects are small; nothing larger
}

// A block that a thread's last destructor gives back.
struct LastHolder {
  void* block = nullptr;
  ~LastHolder() { lowArenaFree(block, 4000); }
};
thread_local LastHolder lastHolder;

// Blocks made on one thread and given back on another, as objects received from another
// process are, and blocks given back by a thread's last destructors: none is ever handed out
// twice at once, and none is lost to a thread that ended.
TEST(LowArenaTest, BlocksCrossingThreadsAreHandedOutOnceAndOutliveTheirThreads) {
  ASSERT_TRUE(reserveLowArena());
  constexpr int kBlocks = 3000;
  std::vector<void*> made(kBlocks);
  std::thread maker([&] {
    for (void*& p : made) p = lowArenaAllocate(100);
  });
  maker.join();
  std::set<void*> live(made.begin(), made.end());
  ASSERT_EQ(live.size(), size_t(kBlocks));
  ASSERT_EQ(live.count(nullptr), 0u);
  std::thread freer([&] {
    for (void* p : made) lowArenaFree(p, 100);
  });
  // Meanwhile this thread takes blocks of the same class: never one still live elsewhere.
  std::vector<void*> mine;
  for (int i = 0; i < kBlocks; ++i) mine.push_back(lowArenaAllocate(100));
  freer.join();
  std::set<void*> distinct(mine.begin(), mine.end());
  EXPECT_EQ(distinct.size(), size_t(kBlocks));
  for (void* p : mine) lowArenaFree(p, 100);

  // A thread-local holder made before the thread's first block is destroyed after the thread
  // gave its cached blocks back; what it frees then must still reach the arena.
  void* held = nullptr;
  std::thread late([&] {
    LastHolder& first = lastHolder;  // constructed first, so destroyed last
    first.block = held = lowArenaAllocate(4000);
  });
  late.join();
  ASSERT_NE(held, nullptr);
  std::vector<void*> large;
  bool reused = false;
  for (int i = 0; i < 256 && !reused; ++i) {
    large.push_back(lowArenaAllocate(4000));
    reused = large.back() == held;
  }
  EXPECT_TRUE(reused) << "the block freed after the thread's cache was given back was lost ";
  for (void* p : large) lowArenaFree(p, 4000);
}

}  // namespace
}  // namespace velt::wmi::test
