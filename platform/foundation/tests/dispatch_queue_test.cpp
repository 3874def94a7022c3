#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/foundation/dispatch_queue.h"
#include "platform/foundation/testing/manual_queue.h"

namespace ostrel {
namespace {

TEST(MainQueueTest, RunsWorkFromAnyThreadOnTheRunningThreadTimersInTheirOrder) {
  MainQueue queue;
  std::vector<std::string> order;  // touched only on the queue's thread
  std::thread::id runner;
  std::atomic<bool> offThread{false};
  auto record = [&](std::string what) {
    return [&, what] {
      if (std::this_thread::get_id() != runner) offThread = true;
      order.push_back(what);
      if (order.size() == 4) queue.stop();
    };
  };
  runner = std::this_thread::get_id();
  queue.asyncAfter(0.05, record("later"));
  queue.asyncAfter(0.01, record("soon"));
  std::thread([&] { queue.async(record("posted")); }).join();
  queue.async(record("first"));
  queue.run();
  EXPECT_EQ(order, (std::vector<std::string>{"posted", "first", "soon", "later"}));
  EXPECT_FALSE(offThread);
  const double now = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  EXPECT_NEAR(queue.now(), now, 5.0);
}

TEST(ManualQueueTest, WorkRunsAtItsTimeInOrderIncludingWorkQueuedOnTheWay) {
  testing::ManualQueue queue(1000);
  std::vector<std::string> ran;
  queue.asyncAfter(10, [&] { ran.push_back("10 at " + std::to_string(int(queue.now()))); });
  queue.asyncAfter(5, [&] {
    ran.push_back("5");
    queue.asyncAfter(2, [&] { ran.push_back("7 at " + std::to_string(int(queue.now()))); });
    queue.async([&] { ran.push_back("5 next"); });
  });
  queue.async([&] { ran.push_back("now"); });
  queue.asyncAfter(5, [&] { ran.push_back("5 again"); });

  EXPECT_EQ(queue.runReady(), 1u);
  queue.advance(4.9);
  EXPECT_EQ(ran, std::vector<std::string>{"now"});
  queue.advance(5.1);
  EXPECT_EQ(ran, (std::vector<std::string>{"now", "5", "5 again", "5 next", "7 at 1007", "10 at 1010"}));
  EXPECT_EQ(queue.now(), 1010);
  EXPECT_LT(queue.nextDueIn(), 0);
}

}  // namespace
}  // namespace ostrel
