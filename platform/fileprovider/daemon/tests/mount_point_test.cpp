#include <gtest/gtest.h>

#include "platform/fileprovider/daemon/mount_point.h"

namespace ostrel::fileprovider {
namespace {

TEST(MountPointTest, DisplayNamesBecomeOneSafeComponent) {
  struct Case {
    std::string displayName;
    std::string expected;
  } cases[] = {
      {"Ostrel Drive", "Ostrel Drive"},
      {"Smith/Jones LLP", "Smith\u2215Jones LLP"},
      {"../escape", "..\u2215escape"},
      {"", "dom"},
      {".", "dom"},
      {"..", "dom"},
      {std::string("a\0b", 3), "ab"},
  };
  for (const auto& c : cases) {
    auto point = mountPointFor("/mnt/root", Domain{.identifier = "dom", .displayName = c.displayName});
    EXPECT_EQ(point, std::filesystem::path("/mnt/root") / c.expected) << c.displayName;
    EXPECT_EQ(point.parent_path(), "/mnt/root") << c.displayName;
  }
}

}  // namespace
}  // namespace ostrel::fileprovider
