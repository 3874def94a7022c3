#include <gtest/gtest.h>

#include "platform/fileprovider/fuse/superseded_versions.h"

namespace ostrel::fileprovider {
namespace {

class VersionedItem final : public Item {
 public:
  VersionedItem(std::string identifier, std::optional<ItemVersion> version)
      : identifier_(std::move(identifier)), version_(std::move(version)) {}
  ItemIdentifier itemIdentifier() const override { return {identifier_}; }
  ItemIdentifier parentItemIdentifier() const override { return rootContainerItemIdentifier; }
  std::string filename() const override { return identifier_; }
  std::optional<ItemVersion> itemVersion() const override { return version_; }

 private:
  std::string identifier_;
  std::optional<ItemVersion> version_;
};

TEST(SupersededVersionsTest, OnlyCopiesTheMountsOwnWritesReplacedAreStale) {
  SupersededVersions superseded;
  superseded.modified({"folder:1"}, {"c1", "m1"});
  superseded.deleted({"folder:2"});
  superseded.moved({"folder:4"}, "m1");
  struct Case {
    std::string identifier;
    std::optional<ItemVersion> version;
    bool stale;
  } cases[] = {
      {"folder:1", ItemVersion{"c1", "m1"}, true},   // from before the rename
      {"folder:1", ItemVersion{"c1", "m2"}, false},  // the rename itself, or later
      {"folder:1", ItemVersion{"c2", "m1"}, false},
      {"folder:1", std::nullopt, false},
      {"folder:2", ItemVersion{"c9", "m9"}, true},  // deleted here: every copy is stale
      {"folder:2", std::nullopt, true},
      {"folder:3", ItemVersion{"c1", "m1"}, false},
      // Renamed here: a copy with the old name is stale even once its children changed.
      {"folder:4", ItemVersion{"c7", "m1"}, true},
      {"folder:4", ItemVersion{"c7", "m2"}, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(superseded.isStale(VersionedItem(c.identifier, c.version)), c.stale)
        << c.identifier << " " << (c.version ? c.version->metadataVersion : "none");
  }
}

TEST(SupersededVersionsTest, KeepsOnlyTheNewestRecords) {
  SupersededVersions superseded(2);
  superseded.deleted({"doc:1"});
  superseded.deleted({"doc:2"});
  superseded.deleted({"doc:2"});  // already known: does not push doc:1 out
  EXPECT_TRUE(superseded.isStale(VersionedItem("doc:1", std::nullopt)));
  superseded.deleted({"doc:3"});
  EXPECT_FALSE(superseded.isStale(VersionedItem("doc:1", std::nullopt)));
  EXPECT_TRUE(superseded.isStale(VersionedItem("doc:2", std::nullopt)));
  EXPECT_TRUE(superseded.isStale(VersionedItem("doc:3", std::nullopt)));
}

}  // namespace
}  // namespace ostrel::fileprovider
