// Building and changing path models while memory runs out: every allocation of a step is made
// to fail in turn. Each failure must surface as std::bad_alloc (never as another error, never
// swallowed), and a change that fails must leave what it would have changed as it was.
#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <optional>
#include <string>

#include "failing_new.h"
#include "objectpath/object_path.h"
#include "objectpath/property_map.h"

namespace {

using velt::test::allocationFailurePending;
using velt::test::failAllocation;

// Runs `step` with its first, second, ... allocation failing until a run reaches its end before
// the armed failure; after each run, `check` is told whether it failed. The number of failed
// runs.
int sweepAllocations(const std::function<void()>& step, const std::function<void(bool)>& check) {
  int failedRuns = 0;
  for (long index = 0; index < 100000; ++index) {
    failAllocation(index);
    bool failed = false;
    try {
      step();
    } catch (const std::bad_alloc&) {
      failed = true;
    }
    const bool failureCame = !allocationFailurePending();
    failAllocation(-1);
    check(failed);
    if (!failureCame) return failedRuns;
    EXPECT_TRUE(failed) << "allocation " << index << " failed, yet the step went on as if not";
    if (failed) ++failedRuns;
  }
  ADD_FAILURE() << "the step never ran out of allocations";
  return failedRuns;
}

// Long enough that no string keeps it in place.
const std::string kLongServer = "server-with-a-long-name.example";
const std::string kLongNamespace = "root\\somewhat\\deeper\\namespace";

TEST(PathMemoryTest, ParsingReportsEveryFailedAllocationAsBadAlloc) {
  const std::string text = "\\\\" + kLongServer + "\\" + kLongNamespace +
                           ":Storage_Disk.DeviceName=\"disk number zero\",Slot=3";
  std::optional<WbemObjectPath> built;
  int failedRuns =
      sweepAllocations([&] { built.emplace(text); },
                       [&](bool failed) {
                         EXPECT_EQ(built.has_value(), !failed);
                         if (built) {
                           EXPECT_EQ(built->getServer(), kLongServer);
                           EXPECT_EQ(built->getNamespace(), kLongNamespace);
                           EXPECT_EQ(built->getKeys().get("DeviceName"), "disk number zero");
                         }
                         built.reset();
                       });
  EXPECT_GT(failedRuns, 3);
}

TEST(PathMemoryTest, AFailedChangeLeavesThePathAsItWas) {
  const WbemObjectPath original("\\\\host\\root:Disk.Name=\"old\"");
  WbemObjectPath working = original;
  auto unchangedOrDone = [&](const std::function<bool()>& done) {
    return [&, done](bool failed) {
      if (failed) {
        EXPECT_EQ(working.compare(original), 0);
        EXPECT_EQ(working.getServer(), "host");
        EXPECT_EQ(working.getNamespace(), "root");
        EXPECT_EQ(working.modelClass(), "Disk");
      } else {
        EXPECT_TRUE(done());
      }
      working = original;
    };
  };

  EXPECT_GT(sweepAllocations([&] { working.setServer(kLongServer); },
                             unchangedOrDone([&] { return working.getServer() == kLongServer; })),
            0);
  EXPECT_GT(sweepAllocations([&] { working.setNamespace(kLongNamespace); }, unchangedOrDone([&] {
                               return working.getNamespace() == kLongNamespace;
                             })),
            0);
  const std::string longClass = "A_Class_Name_Longer_Than_Any_Inline_Text";
  EXPECT_GT(sweepAllocations([&] { working.setModelClass(longClass); },
                             unchangedOrDone([&] { return working.modelClass() == longClass; })),
            0);

  PropertyMap replacement;
  replacement.add("Name", "a value that is long enough to be allocated");
  replacement.add("Slot", "another value that is long enough to be allocated");
  EXPECT_GT(sweepAllocations([&] { working.setKeys(replacement); },
                             [&](bool failed) {
                               EXPECT_EQ(working.getKeys().count(), failed ? 1 : 2);
                               EXPECT_EQ(
                                   working.getKeys().get("Name"),
                                   failed ? "old" : "a value that is long enough to be allocated");
                               working = original;
                             }),
            0);
}

TEST(PathMemoryTest, AFailedAddLeavesTheKeysAsTheyWere) {
  PropertyMap keys;
  keys.add("First", "1");
  keys.add("Second", "2");
  const PropertyMap original = keys;
  EXPECT_GT(sweepAllocations([&] { keys.add("ThirdWithALongerName", "a value long enough"); },
                             [&](bool failed) {
                               EXPECT_EQ(keys.count(), failed ? 2 : 3);
                               EXPECT_EQ(keys.get("Second"), "2");
                               keys = original;
                             }),
            0);
}

}  // namespace
