#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "mic-watch/scan_schedule.h"

namespace ostrel::micwatch {
namespace {

using namespace std::chrono_literals;

// Runs the schedule on its own thread until the test ends.
struct Running {
  explicit Running(std::chrono::milliseconds interval) : schedule(interval) {
    thread = std::thread([this] {
      schedule.run([this] {
        scans.fetch_add(1);
        if (scanning.exchange(true)) overlapped = true;
        std::this_thread::sleep_for(1ms);
        scanning = false;
      });
    });
  }
  ~Running() {
    schedule.stop();
    thread.join();
  }
  bool waitForScans(int count) {
    for (int tries = 0; tries < 1000 && scans.load() < count; ++tries) std::this_thread::sleep_for(10ms);
    return scans.load() >= count;
  }

  ScanSchedule schedule;
  std::atomic<int> scans{0};
  std::atomic<bool> scanning{false};
  std::atomic<bool> overlapped{false};
  std::thread thread;
};

TEST(ScanSchedule, AListChangeScansWithoutWaitingForTheTimer) {
  Running running(std::chrono::hours(1));
  running.schedule.listChanged();
  EXPECT_TRUE(running.waitForScans(1));
}

TEST(ScanSchedule, TheTimerScansRepeatedly) {
  Running running(20ms);
  EXPECT_TRUE(running.waitForScans(3));
}

TEST(ScanSchedule, ScansFromManyWakersNeverOverlap) {
  Running running(5ms);
  std::vector<std::thread> wakers;
  for (int k = 0; k < 4; ++k)
    wakers.emplace_back([&] {
      for (int n = 0; n < 50; ++n) {
        running.schedule.listChanged();
        std::this_thread::sleep_for(1ms);
      }
    });
  for (auto& waker : wakers) waker.join();
  EXPECT_TRUE(running.waitForScans(5));
  EXPECT_FALSE(running.overlapped.load());
}

TEST(ScanSchedule, StopEndsRunAtOnce) {
  ScanSchedule schedule(std::chrono::hours(1));
  std::thread stopper([&] { schedule.stop(); });
  schedule.run([] {});
  stopper.join();
  SUCCEED();
}

}  // namespace
}  // namespace ostrel::micwatch
