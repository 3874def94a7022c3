#pragma once

// A real FUSE mount of an in-memory drive, for the mount's tests.
#include "platform/fileprovider/fuse/domain_mount.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <set>
#include <functional>
#include <sstream>
#include <thread>

#include "platform/fileprovider/fuse/tests/in_memory_extension.h"
#include "platform/foundation/testing/log_capture.h"
#include "platform/foundation/unique_fd.h"

namespace ostrel::fileprovider::testing {

namespace fs = std::filesystem;

inline std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline void writeFile(const fs::path& path, const std::string& bytes, std::ios::openmode mode = std::ios::trunc) {
  std::ofstream out(path, std::ios::binary | std::ios::out | mode);
  out << bytes;
}

inline std::set<std::string> namesIn(const fs::path& directory) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory)) names.insert(entry.path().filename().string());
  return names;
}

// The errno of a failed call, 0 when it succeeded.
inline int errnoOf(int result) {
  return result == 0 ? 0 : errno;
}

class DomainMountTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!UniqueFd(::open("/dev/fuse", O_RDWR | O_CLOEXEC))) GTEST_SKIP() << "/dev/fuse cannot be opened here";
    char pattern[] = "/tmp/ostrel-fuse-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    scratch_ = pattern;
    storage_.root = scratch_ / "storage";
    extension_ = std::make_shared<InMemoryExtension>(storage_.temporaryDirectory());
  }

  void TearDown() override {
    mount_.reset();
    extension_.reset();
    if (!scratch_.empty()) {
      std::error_code ignored;
      fs::remove_all(scratch_, ignored);
    }
  }

  void mountDrive(MountOptions options = {.callTimeout = std::chrono::seconds(20)}) {
    auto mounted = DomainMount::mount(extension_, Domain{"test-domain", "Test Drive"}, storage_, scratch_ / "mnt",
                                      options);
    ASSERT_TRUE(mounted.has_value()) << mounted.error().localizedDescription();
    mount_ = std::move(*mounted);
  }

  fs::path at(const std::string& relative) const { return mount_->mountPoint() / relative; }

  // Files under the local-only directory holding exactly `bytes`.
  size_t localCopiesHolding(const std::string& bytes) const {
    size_t count = 0;
    for (const auto& entry : fs::directory_iterator(storage_.localOnlyDirectory()))
      if (entry.path().extension() != ".json" && readFile(entry.path()) == bytes) ++count;
    return count;
  }

  // Bounded polling, for what the mount does after answering (a release).
  static bool eventually(const std::function<bool()>& condition) {
    for (int i = 0; i < 500 && !condition(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return condition();
  }

  bool logged(const std::string& fragment) const {
    for (const auto& record : logs_.records())
      if (record.subsystem == "local.ostrel.fileproviderd" && record.message.find(fragment) != std::string::npos)
        return true;
    return false;
  }

  ostrel::testing::LogCapture logs_;
  fs::path scratch_;
  DomainStorage storage_;
  std::shared_ptr<InMemoryExtension> extension_;
  std::unique_ptr<DomainMount> mount_;
};

}  // namespace ostrel::fileprovider::testing
