#include "platform/accessibility/snapshot_accessibility.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <optional>
#include <string>

#include "platform/accessibility/accessibility_error.h"
#include "platform/accessibility/accessibility_snapshot.h"

namespace ostrel::accessibility {
namespace {

namespace fs = std::filesystem;

class SnapshotAccessibilityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    directory_ = fs::temp_directory_path() / ("accessibility-test-" + std::to_string(::getpid()));
    fs::remove_all(directory_);
    fs::create_directories(directory_);
  }
  void TearDown() override { fs::remove_all(directory_); }

  fs::path file() const { return directory_ / "snapshot.json"; }

  // Written beside and renamed into place, as the format asks of writers.
  void write(const std::string& text) const {
    const fs::path staging = directory_ / "snapshot.json.new";
    std::ofstream(staging) << text;
    fs::rename(staging, file());
  }

  static std::string zoomWithWindowTitled(const std::string& title, bool trusted = true) {
    return std::string(R"({"trusted":)") + (trusted ? "true" : "false") +
           R"(,"applications":[
               {"bundleIdentifier":"other.app","processIdentifier":7},
               {"bundleIdentifier":"us.zoom.xos","processIdentifier":42,
                "element":{"AXWindows":[{"AXTitle":")" + title + R"("}]}},
               {"bundleIdentifier":"us.zoom.xos","processIdentifier":43}]})";
  }

  static std::optional<std::string> firstWindowTitle(const Element& application) {
    auto windows = application.copyAttributeValue("AXWindows");
    if (!windows || !windows->array() || windows->array()->empty()) return std::nullopt;
    const auto& window = std::get<Element>(windows->array()->front().value);
    auto title = window.copyAttributeValue("AXTitle");
    if (!title || !title->string()) return std::nullopt;
    return *title->string();
  }

  fs::path directory_;
};

TEST_F(SnapshotAccessibilityTest, MissingFileIsAnUntrustedMachineWithNothingRunning) {
  auto accessibility = snapshotAccessibility(file());
  EXPECT_FALSE(accessibility->isProcessTrusted());
  EXPECT_TRUE(accessibility->runningApplications("us.zoom.xos").empty());
  auto windows = accessibility->applicationElement(42).copyAttributeValue("AXWindows");
  ASSERT_FALSE(windows);
  EXPECT_EQ(windows.error().code, AXError::cannotComplete);
}

TEST_F(SnapshotAccessibilityTest, EveryCallReadsTheFileAfresh) {
  auto accessibility = snapshotAccessibility(file());
  write(zoomWithWindowTitled("First", /*trusted=*/false));
  const Element application = accessibility->applicationElement(42);
  EXPECT_FALSE(accessibility->isProcessTrusted());
  EXPECT_EQ(firstWindowTitle(application), "First");

  write(zoomWithWindowTitled("Second"));
  EXPECT_TRUE(accessibility->isProcessTrusted());
  EXPECT_EQ(firstWindowTitle(application), "Second");

  const auto running = accessibility->runningApplications("us.zoom.xos");
  ASSERT_EQ(running.size(), 2u);
  EXPECT_EQ(running[0].processIdentifier, 42);
  EXPECT_EQ(running[1].processIdentifier, 43);
  EXPECT_EQ(running[0].bundleIdentifier, "us.zoom.xos");

  write("{ half written");
  EXPECT_FALSE(accessibility->isProcessTrusted());
  EXPECT_TRUE(accessibility->runningApplications("us.zoom.xos").empty());
  EXPECT_EQ(firstWindowTitle(application), std::nullopt);
}

TEST_F(SnapshotAccessibilityTest, ElementsHandedOutKeepTheReadingTheyCameFrom) {
  auto accessibility = snapshotAccessibility(file());
  write(zoomWithWindowTitled("Before"));
  auto windows = accessibility->applicationElement(42).copyAttributeValue("AXWindows");
  ASSERT_TRUE(windows && windows->array() && windows->array()->size() == 1u);
  write(zoomWithWindowTitled("After"));
  fs::remove(file());
  auto title = std::get<Element>(windows->array()->front().value).copyAttributeValue("AXTitle");
  ASSERT_TRUE(title && title->string());
  EXPECT_EQ(*title->string(), "Before");
}

TEST_F(SnapshotAccessibilityTest, OversizedFileIsRefusedUnread) {
  {
    std::ofstream out(file());
    out << zoomWithWindowTitled("x");
  }
  fs::resize_file(file(), AccessibilitySnapshot::maxFileSize + 1);  // sparse: cheap to make
  auto snapshot = readAccessibilitySnapshot(file());
  ASSERT_FALSE(snapshot);
  EXPECT_EQ(snapshot.error().code, EFBIG);
  EXPECT_FALSE(snapshotAccessibility(file())->isProcessTrusted());
}

TEST_F(SnapshotAccessibilityTest, AnythingButARegularFileIsRefusedWithoutWaiting) {
  const fs::path fifo = directory_ / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const fs::path folder = directory_ / "folder";
  fs::create_directory(folder);
  for (const fs::path& path : {fifo, folder, fs::path("/dev/null")}) {
    auto reading = std::async(std::launch::async, [path] { return readAccessibilitySnapshot(path); });
    if (reading.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
      ADD_FAILURE() << path << " held the read";
      // A writer that comes and goes ends a read stuck on the FIFO, so the test can end.
      ::close(::open(fifo.c_str(), O_RDWR | O_NONBLOCK));
    }
    const auto snapshot = reading.get();
    ASSERT_FALSE(snapshot) << path;
    EXPECT_EQ(snapshot.error().domain, POSIXError::domain) << path;
    EXPECT_EQ(snapshot.error().code, EINVAL) << path;
  }
}

TEST_F(SnapshotAccessibilityTest, DefaultFileFollowsTheEnvironment) {
  const char* savedOverride = std::getenv("OSTREL_ACCESSIBILITY_SNAPSHOT");
  const char* savedHome = std::getenv("OSTREL_HOME");
  const std::optional<std::string> overrideValue = savedOverride ? std::optional<std::string>(savedOverride) : std::nullopt;
  const std::optional<std::string> homeValue = savedHome ? std::optional<std::string>(savedHome) : std::nullopt;

  ::setenv("OSTREL_HOME", "/home/partner/ostrel", 1);
  ::unsetenv("OSTREL_ACCESSIBILITY_SNAPSHOT");
  EXPECT_EQ(defaultSnapshotFile(), fs::path("/home/partner/ostrel/Accessibility/snapshot.json"));
  ::setenv("OSTREL_ACCESSIBILITY_SNAPSHOT", "", 1);
  EXPECT_EQ(defaultSnapshotFile(), fs::path("/home/partner/ostrel/Accessibility/snapshot.json"));
  ::setenv("OSTREL_ACCESSIBILITY_SNAPSHOT", "/tmp/elsewhere.json", 1);
  EXPECT_EQ(defaultSnapshotFile(), fs::path("/tmp/elsewhere.json"));

  if (overrideValue) ::setenv("OSTREL_ACCESSIBILITY_SNAPSHOT", overrideValue->c_str(), 1);
  else ::unsetenv("OSTREL_ACCESSIBILITY_SNAPSHOT");
  if (homeValue) ::setenv("OSTREL_HOME", homeValue->c_str(), 1);
  else ::unsetenv("OSTREL_HOME");
}

}  // namespace
}  // namespace ostrel::accessibility
