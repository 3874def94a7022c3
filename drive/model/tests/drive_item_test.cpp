#include "drive/model/drive_item.h"

#include <gtest/gtest.h>

#include "platform/foundation/property_list.h"

namespace ostrel::drive {
namespace {

using namespace fileprovider;

DriveItemPayload payload(std::string identifier, DriveItemPayload::Kind kind, std::vector<std::string> capabilities,
                         std::string filename = "Brief.docx") {
  DriveItemPayload p;
  p.identifier = std::move(identifier);
  p.parentIdentifier = "folder:1";
  p.kind = kind;
  p.filename = std::move(filename);
  p.contentVersion = "c1";
  p.metadataVersion = "m1";
  p.capabilities = std::move(capabilities);
  return p;
}

constexpr auto container = DriveItemPayload::Kind::container;
constexpr auto file = DriveItemPayload::Kind::file;

TEST(DriveItemTest, CapabilitiesNeedBothTheGrammarAndTheService) {
  struct Case {
    std::string identifier;
    DriveItemPayload::Kind kind;
    std::vector<std::string> words;
    uint32_t expected;
  };
  const std::vector<std::string> all = {"write", "rename", "reparent", "delete", "add_children"};
  const Case cases[] = {
      {"matter:1", container, all, 1},
      {"save:1", file, all, 1},
      {"folder:1", container, {"rename", "write", "share"}, 1 | 8},
      {"folder:1", container, all, 1 | 2 | 4 | 8 | 32},
      {"ver:1", file, {"write", "delete"}, 1 | 2},
      {"doc:5", container, {"add_children"}, 3},
      {"dft:5", container, {"add_children", "rename"}, 3},
      {"x:1", file, all, 1},
      {"folder:1", container, {}, 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DriveItem(payload(c.identifier, c.kind, c.words)).capabilities(), c.expected) << c.identifier;
  }
}

TEST(DriveItemTest, UserInfoFlags) {
  struct Case {
    std::string identifier;
    DriveItemPayload::Kind kind;
    bool openable;
    bool continuable;
  };
  const Case cases[] = {
      {"ver:1", file, true, false},    {"ver:1", container, false, false}, {"dfl:1", file, true, false},
      {"dfl:1", container, false, false}, {"vf:1", container, true, false}, {"dft:1", container, true, false},
      {"doc:1", container, true, false}, {"save:1", file, false, true},   {"save:1", container, false, false},
      {"folder:1", container, false, false}, {"matter:1", container, false, false},
  };
  for (const auto& c : cases) {
    auto info = DriveItem(payload(c.identifier, c.kind, {})).userInfo();
    EXPECT_EQ(info.at("openable"), c.openable) << c.identifier;
    EXPECT_EQ(info.at("continuable"), c.continuable) << c.identifier;
  }
}

TEST(DriveItemTest, IdentifiersTypesAndVersions) {
  auto p = payload("doc:1", file, {}, "Brief.docx");
  p.parentIdentifier = "root";
  p.size = 12;
  p.childCount = 3;
  p.createdAt = parseDate("2024-03-01T09:30:00Z");
  DriveItem item(p);
  EXPECT_EQ(item.itemIdentifier().rawValue, "doc:1");
  EXPECT_EQ(item.parentItemIdentifier(), rootContainerItemIdentifier);
  EXPECT_EQ(item.contentType(), "org.openxmlformats.wordprocessingml.document");
  EXPECT_EQ(item.documentSize(), 12);
  EXPECT_EQ(item.childItemCount(), 3);
  EXPECT_EQ(item.creationDate(), p.createdAt);
  EXPECT_FALSE(item.contentModificationDate());
  EXPECT_EQ(item.itemVersion(), (ItemVersion{"c1", "m1"}));

  EXPECT_EQ(DriveItem(payload("doc:1", container, {}, "Notes.txt")).contentType(), "public.folder");
  EXPECT_EQ(DriveItem(payload("ver:1", file, {}, "scan.unknownext")).contentType(), "public.data");
  EXPECT_EQ(DriveItem(payload("ver:1", file, {}, "README")).contentType(), "public.data");
  EXPECT_EQ(DriveItem(payload("ver:1", file, {}, "Report.PDF")).contentType(), "com.adobe.pdf");
}

TEST(DriveItemTest, ExtendedAttributesAreBinaryPropertyLists) {
  auto p = payload("ver:1", file, {});
  p.versionLabel = "v3";
  p.comment = "";
  auto attributes = DriveItem(p).extendedAttributes();
  ASSERT_EQ(attributes.size(), 1u);
  const std::string& encoded = attributes.at("com.apple.metadata:kMDItemVersion");
  EXPECT_TRUE(encoded.starts_with("bplist00"));
  auto decoded = PropertyList::parse(encoded);
  ASSERT_TRUE(decoded);

  p.comment = "Sent to client";
  attributes = DriveItem(p).extendedAttributes();
  EXPECT_EQ(attributes.size(), 2u);
  EXPECT_TRUE(attributes.contains("com.apple.metadata:kMDItemFinderComment"));
  p.versionLabel.reset();
  p.comment.reset();
  EXPECT_TRUE(DriveItem(p).extendedAttributes().empty());
}

TEST(RootItemTest, NamedAfterTheDomain) {
  RootItem root("Drive");
  EXPECT_EQ(root.itemIdentifier(), rootContainerItemIdentifier);
  EXPECT_EQ(root.parentItemIdentifier(), rootContainerItemIdentifier);
  EXPECT_EQ(root.filename(), "Drive");
  EXPECT_EQ(root.contentType(), "public.folder");
  EXPECT_EQ(root.capabilities(), 1u);
  auto version = root.itemVersion();
  ASSERT_TRUE(version);
  EXPECT_EQ(version->contentVersion, "\x72\x6F\x6F\x74");
  EXPECT_EQ(version->metadataVersion, "\x44\x72\x69\x76\x65");
}

}  // namespace
}  // namespace ostrel::drive
