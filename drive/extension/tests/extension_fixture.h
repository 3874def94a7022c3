#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>

#include "drive/extension/file_provider_extension.h"
#include "drive/shared/drive_domain_config.h"
#include "platform/fileprovider/manager.h"
#include "platform/fileprovider/testing/fake_manager.h"
#include "platform/foundation/testing/log_capture.h"

namespace ostrel::drive::testing {

inline constexpr const char* testGroup = "TEST.local.ostrel.desktop";

// A settable clock for the broker's 30-second rule.
class TestClock {
 public:
  Date now() const { return Date(std::chrono::milliseconds(millis_.load())); }
  void set(Date date) { millis_ = date.time_since_epoch().count(); }
  TokenBroker::Clock function() {
    return [this] { return now(); };
  }
  // Seconds since 1970 as the host sends expiries, `seconds` from now.
  double inSeconds(double seconds) const { return unixSeconds(now()) + seconds; }

 private:
  std::atomic<int64_t> millis_{1'700'000'000'000};
};

// A private $OSTREL_HOME, an extension bundle naming the test App Group,
// a fake manager for every domain, and captured logs.
class ExtensionFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "ostrel-extension-XXXXXX").string();
    home = mkdtemp(pattern.data());
    setenv("OSTREL_HOME", home.c_str(), 1);
    setenv("OSTREL_XPC_DIR", (home / "xpc").c_str(), 1);
    bundleRoot = home / "OstrelDrive.appex";
    std::filesystem::create_directories(bundleRoot / "Contents");
    std::ofstream(bundleRoot / "Contents" / "Info.plist")
        << "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
           "<key>CFBundleIdentifier</key><string>local.ostrel.desktop.drive</string>"
           "<key>OstrelAppGroup</key><string>"
        << testGroup << "</string></dict></plist>";
    fileprovider::setManagerLookup([manager = manager](const fileprovider::Domain&) { return manager; });
  }

  void TearDown() override {
    fileprovider::setManagerLookup(nullptr);
    unsetenv("OSTREL_XPC_DIR");
    unsetenv("OSTREL_HOME");
    std::filesystem::remove_all(home);
  }

  void writeConfig(const std::string& domain, const std::string& contents) {
    auto file = *DriveDomainConfig::url(home / "Group Containers" / testGroup, domain);
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file) << contents;
  }

  std::unique_ptr<FileProviderExtension> makeExtension(const std::string& apiBase, std::string domain = "firm") {
    writeConfig(domain, DriveDomainConfig{apiBase, "Ostrel"}.encoded());
    return std::make_unique<FileProviderExtension>(fileprovider::Domain{domain, "Ostrel"}, Bundle::atPath(bundleRoot),
                                                   clock.function());
  }
  std::unique_ptr<FileProviderExtension> makeUnconfigured(std::string domain = "none") {
    return std::make_unique<FileProviderExtension>(fileprovider::Domain{domain, "Ostrel"}, Bundle::atPath(bundleRoot),
                                                   clock.function());
  }

  std::filesystem::path home;
  std::filesystem::path bundleRoot;
  std::shared_ptr<fileprovider::testing::FakeManager> manager = std::make_shared<fileprovider::testing::FakeManager>();
  TestClock clock;
  ostrel::testing::LogCapture logs;
};

}  // namespace ostrel::drive::testing
