#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "platform/fileprovider/fuse/retry_loop.h"

namespace ostrel::fileprovider {
namespace {

using namespace std::chrono_literals;

int attemptsWithin(std::chrono::milliseconds span, bool stillWaiting) {
  std::atomic<int> attempts = 0;
  {
    RetryLoop loop(10ms, 640ms, [&] {
      ++attempts;
      return stillWaiting;
    });
    std::this_thread::sleep_for(span);
  }
  return attempts;
}

TEST(RetryLoopTest, PausesGrowWhileSomethingWaitsAndStartOverWhenNothingDoes) {
  // 10, 20, 40, 80, 160 ms... against every 10 ms.
  const int backingOff = attemptsWithin(600ms, true);
  const int idle = attemptsWithin(600ms, false);
  EXPECT_GE(backingOff, 2);
  EXPECT_LE(backingOff, 7);
  EXPECT_GT(idle, backingOff * 2);
}

TEST(RetryLoopTest, StoppingEndsALongPauseAtOnce) {
  std::atomic<int> attempts = 0;
  auto loop = std::make_unique<RetryLoop>(std::chrono::hours(1), std::chrono::hours(1), [&] {
    ++attempts;
    return true;
  });
  loop->stop();
  loop->stop();
  loop.reset();
  EXPECT_EQ(attempts, 0);
}

}  // namespace
}  // namespace ostrel::fileprovider
