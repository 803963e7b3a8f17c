// Long waits a stub makes for its caller go in pieces, so that the stub can look between two
// whether its caller is gone (the provider process test kills a caller in such a wait); the
// pieces still add up to the caller's timeout and outcome.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "remote/caller_gone.h"

namespace velt::wmi::remote {
namespace {

CallerGone present() { return std::make_shared<std::atomic<bool>>(false); }

TEST(RemoteCallerGoneTest, PiecesAddUpToOneWaitAndItsOutcome) {
  CallerGone gone = present();
  // What the caller waits for comes in the third piece; an endless wait goes on till then.
  int pieces = 0;
  EXPECT_EQ(waitWhileWanted(LONG(WBEM_INFINITE), gone,
                            [&](LONG) { return ++pieces == 3 ? WBEM_S_FALSE : WBEM_S_TIMEDOUT; }),
            WBEM_S_FALSE);
  EXPECT_EQ(pieces, 3);
  // A finite wait longer than a piece lasts its own length in all, then times out.
  LONG waited = 0;
  EXPECT_EQ(waitWhileWanted(2 * kWaitSliceMs + 50, gone,
                            [&](LONG ms) {
                              waited += ms;
                              std::this_thread::sleep_for(std::chrono::milliseconds(ms));
                              return WBEM_S_TIMEDOUT;
                            }),
            WBEM_S_TIMEDOUT);
  EXPECT_LE(waited, 2 * kWaitSliceMs + 50);
  EXPECT_GE(waited, 2 * kWaitSliceMs);
  // Short, no-wait and invalid timeouts reach the real object as the caller gave them.
  for (LONG timeout : {LONG(0), kWaitSliceMs, LONG(-5)}) {
    std::vector<LONG> asked;
    waitWhileWanted(timeout, gone, [&](LONG ms) {
      asked.push_back(ms);
      return WBEM_S_TIMEDOUT;
    });
    EXPECT_EQ(asked, std::vector<LONG>{timeout});
  }
}

}  // namespace
}  // namespace velt::wmi::remote
