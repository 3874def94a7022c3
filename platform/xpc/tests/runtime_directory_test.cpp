#include "platform/xpc/runtime_directory_linux.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "platform/xpc/tests/test_support.h"

namespace ostrel::xpc {
namespace {

namespace fs = std::filesystem;
using testing::XpcTest;

mode_t modeOf(const fs::path& path) {
  struct stat status {};
  EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
  return status.st_mode;
}

class RuntimeDirectoryTest : public XpcTest {};

TEST_F(RuntimeDirectoryTest, UsesOnlyADirectoryOfOursThatOthersCannotEnter) {
  auto directoryWithMode = [](mode_t mode) {
    return [mode](const fs::path& p) {
      fs::create_directory(p);
      ::chmod(p.c_str(), mode);
    };
  };
  const struct {
    const char* name;
    std::function<void(const fs::path&)> make;
    bool accepted;
  } cases[] = {
      {"missing", [](const fs::path&) {}, true},
      {"ours-0700", directoryWithMode(0700), true},
      {"ours-0755", directoryWithMode(0755), false},
      {"ours-0701", directoryWithMode(0701), false},
      {"ours-1700", directoryWithMode(01700), false},
      {"a-file", [](const fs::path& p) { ::close(::creat(p.c_str(), 0700)); }, false},
      {"a-link-to-a-good-directory",
       [&](const fs::path& p) {
         directoryWithMode(0700)(p.string() + "-target");
         fs::create_symlink(p.string() + "-target", p);
       },
       false},
      {"parent-missing/run", [](const fs::path&) {}, false},
  };
  for (const auto& c : cases) {
    const fs::path directory = base_ / c.name;
    c.make(directory);
    auto prepared = prepareRuntimeDirectory(directory);
    EXPECT_EQ(prepared.has_value(), c.accepted) << c.name;
    if (prepared) {
      EXPECT_TRUE(S_ISDIR(modeOf(directory))) << c.name;
      EXPECT_EQ(modeOf(directory) & 07777, 0700u) << c.name;
    }
  }
}

TEST_F(RuntimeDirectoryTest, RefusesAnotherUsersDirectory) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a directory away";
  fs::path directory = base_ / "theirs";
  fs::create_directory(directory);
  ::chmod(directory.c_str(), 0700);
  ASSERT_EQ(::chown(directory.c_str(), 65534, 65534), 0);
  auto prepared = prepareRuntimeDirectory(directory);
  ASSERT_FALSE(prepared);
  EXPECT_NE(prepared.error().localizedDescription().find("uid 65534"), std::string::npos);
}

TEST_F(RuntimeDirectoryTest, ListenerSocketIsPrivateAndGoesAwayWithTheListener) {
  auto listener = Listener::anonymous();
  ASSERT_TRUE(listener) << listener.error().localizedDescription();
  auto other = Listener::anonymous();
  ASSERT_TRUE(other);
  const std::string path = (*listener)->endpoint().socketPath;
  EXPECT_EQ(fs::path(path).parent_path(), base_ / "run");
  EXPECT_NE(path, (*other)->endpoint().socketPath);
  EXPECT_EQ((*listener)->endpoint(), (*listener)->endpoint());
  EXPECT_TRUE(S_ISSOCK(modeOf(path)));
  EXPECT_EQ(modeOf(path) & 07777, 0600u);
  EXPECT_EQ(modeOf(base_ / "run") & 07777, 0700u);
  (*listener)->invalidate();
  EXPECT_FALSE(fs::exists(path));
  other->reset();
}

TEST_F(RuntimeDirectoryTest, ListenerRefusesAnUnsafeDirectoryOrAPathTooLong) {
  fs::create_directory(base_ / "run");
  ::chmod((base_ / "run").c_str(), 0755);
  auto refused = Listener::anonymous();
  ASSERT_FALSE(refused);
  EXPECT_NE(refused.error().localizedDescription().find("0755"), std::string::npos);

  fs::path deep = base_ / std::string(120, 'd');
  ::setenv("OSTREL_XPC_DIR", deep.c_str(), 1);
  auto tooLong = Listener::anonymous();
  ASSERT_FALSE(tooLong);
  EXPECT_EQ(tooLong.error().code, ENAMETOOLONG);
}

}  // namespace
}  // namespace ostrel::xpc
