#include <gtest/gtest.h>

#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <mutex>

#include "platform/fileprovider/daemon/registry_watcher_linux.h"

namespace ostrel::fileprovider {
namespace {

using namespace std::chrono_literals;

class RegistryWatcherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/registry-watcher-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    directory_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(directory_); }
  void writeRegistry() { std::ofstream(directory_ / "domains.json") << "[]"; }

  std::filesystem::path directory_;
};

TEST_F(RegistryWatcherTest, ChangesOfTheRegistryAloneAreTold) {
  std::promise<void> told;
  std::once_flag once;
  auto watcher = RegistryWatcher::start(directory_, [&] { std::call_once(once, [&] { told.set_value(); }); });
  ASSERT_TRUE(watcher);
  std::ofstream(directory_ / "other.json") << "{}";
  writeRegistry();
  EXPECT_EQ(told.get_future().wait_for(10s), std::future_status::ready);
  watcher->reset();
}

// The daemon's last owner can let go while a change is being handled; the
// watcher then goes from within its own callback.
TEST_F(RegistryWatcherTest, CanGoFromWithinItsOwnCallback) {
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    std::mutex mutex;
    std::unique_ptr<RegistryWatcher> held;
    std::promise<void> gone;
    auto watcher = RegistryWatcher::start(directory_, [&] {
      std::unique_ptr<RegistryWatcher> last;
      {
        std::lock_guard lock(mutex);
        if (!held) return;
        last = std::move(held);
      }
      last.reset();
      gone.set_value();
    });
    ASSERT_TRUE(watcher);
    {
      std::lock_guard lock(mutex);
      held = std::move(*watcher);
    }
    writeRegistry();
    ASSERT_EQ(gone.get_future().wait_for(10s), std::future_status::ready);
  }
}

}  // namespace
}  // namespace ostrel::fileprovider
