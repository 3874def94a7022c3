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

TEST(MountPointTest, LongNamesAreCutToFitWithRoomForASuffix) {
  struct Case {
    std::string displayName;
    size_t bytes;
  } cases[] = {
      {std::string(300, 'a'), 240},
      // Two-byte characters: a cut at 240 would split none, at 239 one.
      {[] {
         std::string name;
         for (int i = 0; i < 200; ++i) name += "\u00e9";
         return name;
       }(),
       240},
      {"x" + [] {
         std::string name;
         for (int i = 0; i < 200; ++i) name += "\u00e9";
         return name;
       }(),
       239},
      {std::string(240, 'b'), 240},
  };
  for (const auto& c : cases) {
    auto name = mountPointFor("/mnt", Domain{.identifier = "dom", .displayName = c.displayName}).filename().string();
    EXPECT_EQ(name.size(), c.bytes) << c.displayName;
    EXPECT_TRUE(c.displayName.starts_with(name));
  }
  auto fallback = mountPointFor("/mnt", Domain{.identifier = std::string(250, 'i'), .displayName = ""});
  EXPECT_EQ(fallback.filename().string().size(), 240u);
}

TEST(MountPointTest, DomainsNamedAlikeGetPointsOfTheirOwn) {
  MountPoints points;
  const std::filesystem::path wanted = "/mnt/Dup Name";
  EXPECT_EQ(points.claim(wanted), "/mnt/Dup Name");
  EXPECT_EQ(points.claim(wanted), "/mnt/Dup Name (2)");
  EXPECT_EQ(points.claim(wanted), "/mnt/Dup Name (3)");
  points.release("/mnt/Dup Name");
  EXPECT_EQ(points.claim(wanted), "/mnt/Dup Name");
  EXPECT_EQ(points.claim("/mnt/Other"), "/mnt/Other");
  EXPECT_EQ(points.claim(wanted), "/mnt/Dup Name (4)");
}

}  // namespace
}  // namespace ostrel::fileprovider
