// A thread waiting in a call runs what the call brings back; nothing posted to it is lost or run
// twice, however the posts and the end of the wait interleave.
#include <gtest/gtest.h>
#include <winplatform/remoting.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>

namespace {

using velt::remoting::CallerMailbox;
using velt::remoting::runOnLoopServing;
using namespace std::chrono_literals;

// Until `count` reaches `wanted`, or a few seconds passed.
bool reaches(const std::atomic<int>& count, int wanted) {
  for (auto end = std::chrono::steady_clock::now() + 10s; count.load() < wanted;) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(1ms);
  }
  return count.load() == wanted;
}

TEST(CallerMailboxTest, TheCallerRunsWhatArrivesWhileItWaitsAndWorkersWhatArrivesAfter) {
  auto mailbox = std::make_shared<CallerMailbox>();
  const auto caller = std::this_thread::get_id();
  std::atomic<int> onCaller{0}, elsewhere{0};
  auto work = [&] { ++(std::this_thread::get_id() == caller ? onCaller : elsewhere); };
  HRESULT status = runOnLoopServing(
      mailbox,
      [&]() -> kj::Promise<HRESULT> {
        for (int i = 0; i < 3; ++i) mailbox->post(work);
        return kj::evalLater([] { return HRESULT(S_FALSE); });
      },
      [&] { return onCaller.load() + elsewhere.load() == 3; });
  EXPECT_EQ(status, S_FALSE);
  EXPECT_EQ(onCaller.load(), 3);
  mailbox->post(work);
  EXPECT_TRUE(reaches(elsewhere, 1)) << "work posted after the caller left was lost";
  EXPECT_EQ(onCaller.load(), 3);
}

TEST(CallerMailboxTest, WorkPostedAsTheWaitEndsRunsOnceAndWorkThatKeepsComingHoldsNobody) {
  for (int round = 0; round < 40; ++round) {
    auto mailbox = std::make_shared<CallerMailbox>();
    std::atomic<int> posted{0}, ran{0};
    std::atomic<bool> stop{false};
    std::thread poster([&] {
      while (!stop.load() && posted.load() < 2000) {
        ++posted;
        mailbox->post([&ran] { ++ran; });
      }
    });
    EXPECT_EQ(runOnLoopServing(
                  mailbox, []() -> kj::Promise<HRESULT> { return HRESULT(S_OK); },
                  [&] { return ran.load() > 0 || round % 2 == 0; }),
              S_OK);
    stop = true;
    poster.join();
    ASSERT_TRUE(reaches(ran, posted.load())) << ran.load() << " of " << posted.load() << " ran";
  }
}

TEST(CallerMailboxTest, TheLoopThreadCannotWaitForItself) {
  std::promise<HRESULT> nested;
  auto mailbox = std::make_shared<CallerMailbox>();
  EXPECT_EQ(runOnLoopServing(
                mailbox,
                [&]() -> kj::Promise<HRESULT> {
                  nested.set_value(runOnLoopServing(
                      std::make_shared<CallerMailbox>(),
                      []() -> kj::Promise<HRESULT> { return HRESULT(S_OK); }, [] { return true; }));
                  return HRESULT(S_OK);
                },
                [] { return true; }),
            S_OK);
  EXPECT_EQ(nested.get_future().get(), RPC_E_CANTCALLOUT_ININPUTSYNCCALL);
}

}  // namespace
