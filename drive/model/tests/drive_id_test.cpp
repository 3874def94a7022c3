#include "drive/model/drive_id.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace ostrel::drive {
namespace {

struct Rules {
  const char* identifier;
  bool known;
  bool container;
  bool readOnly;
  OperationSet writes;
};

class DriveIDRulesTest : public ::testing::TestWithParam<Rules> {};

TEST_P(DriveIDRulesTest, PrefixDecides) {
  const Rules& r = GetParam();
  EXPECT_EQ(DriveID::isKnown(r.identifier), r.known);
  EXPECT_EQ(DriveID::isContainer(r.identifier), r.container);
  EXPECT_EQ(DriveID::isAlwaysReadOnly(r.identifier), r.readOnly);
  EXPECT_EQ(DriveID::writes(r.identifier), r.writes);
  EXPECT_EQ(DriveID::isWritable(r.identifier), !r.writes.empty());
}

const OperationSet folderOps = {"rename", "reparent", "delete", "add_children"};

INSTANTIATE_TEST_SUITE_P(
    Grammar, DriveIDRulesTest,
    ::testing::Values(Rules{"root", true, true, true, {}}, Rules{"my-matters", true, true, true, {}},
                      Rules{"admin-all", true, true, true, {}}, Rules{"matter:1", true, true, true, {}},
                      Rules{"folder:9", true, true, false, folderOps}, Rules{"doc:5", true, true, false, folderOps},
                      Rules{"vf:5", true, true, false, {"add_children"}}, Rules{"ver:5", true, false, false, {"write"}},
                      Rules{"rlf:17", true, true, true, {}}, Rules{"rlp:17", true, true, true, {}},
                      Rules{"rl:17", true, false, true, {}}, Rules{"svs:3", true, true, true, {}},
                      Rules{"save:3", true, false, true, {}}, Rules{"dft:2", true, true, false, {"add_children"}},
                      Rules{"dfl:2", true, false, false, {"write"}},
                      // Unknown identifiers: listed as containers, never written.
                      Rules{"x:1", false, true, false, {}}, Rules{"Folder:1", false, true, false, {}},
                      Rules{"NSFileProviderWorkingSetContainerItemIdentifier", false, true, false, {}},
                      Rules{"", false, true, false, {}}, Rules{"root2", false, true, false, {}}));

TEST(DriveIDTest, RootMapsBothWaysOtherIdentifiersPassThrough) {
  EXPECT_EQ(DriveID::item("root"), fileprovider::rootContainerItemIdentifier);
  EXPECT_EQ(DriveID::wire(fileprovider::rootContainerItemIdentifier), "root");
  EXPECT_EQ(DriveID::item("my-matters").rawValue, "my-matters");
  EXPECT_EQ(DriveID::wire({"doc:42"}), "doc:42");
  EXPECT_EQ(DriveID::wire(fileprovider::workingSetItemIdentifier), fileprovider::workingSetItemIdentifier.rawValue);
}

TEST(DriveIDTest, VersionIDReadsALeadingUUID) {
  const std::pair<std::string, std::optional<std::string>> cases[] = {
      {"3F2504E0-4F89-11D3-9A0C-0305E82C3301:7", "3f2504e0-4f89-11d3-9a0c-0305e82c3301"},
      {"3f2504e0-4f89-11d3-9a0c-0305e82c3301", "3f2504e0-4f89-11d3-9a0c-0305e82c3301"},
      {"3F2504E0-4F89-11D3-9A0C-0305E82C330", std::nullopt},   // 35 characters
      {"3F2504E0X4F89-11D3-9A0C-0305E82C3301", std::nullopt},  // 36, not a UUID
      {"3F2504E0-4F89-11D3-9A0C-0305E82C3301\u0301", std::nullopt},  // last character is "1" + accent
      {"abc", std::nullopt},
      {"", std::nullopt},
      {std::string("3F2504E0-4F89-11D3-9A0C-0305E82C3301\xff"), std::nullopt},  // not UTF-8
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(DriveID::versionID(text), expected) << text;
  const std::string bytes = "3F2504E0-4F89-11D3-9A0C-0305E82C3301";
  EXPECT_EQ(DriveID::versionID(std::as_bytes(std::span(bytes.data(), bytes.size()))),
            "3f2504e0-4f89-11d3-9a0c-0305e82c3301");
}

TEST(DriveIDTest, WritesIsSafeUnderConcurrentFirstUse) {
  std::vector<std::thread> threads;
  std::vector<size_t> sizes(8);
  for (size_t t = 0; t < sizes.size(); ++t) {
    threads.emplace_back([&, t] { sizes[t] = DriveID::writes("folder:1").size(); });
  }
  for (auto& thread : threads) thread.join();
  for (size_t size : sizes) EXPECT_EQ(size, 4u);
}

TEST(DriveExclusionsTest, WordScratchFilesAreExcluded) {
  const std::pair<const char*, bool> cases[] = {
      {"~$Brief.docx", true}, {"~WRL0001.TMP", true},  {"~WRL0001.tmp", true}, {"~WRL0001.docx", false},
      {"~wrl0001.tmp", false}, {"Brief.tmp", false},    {"Brief.docx", false},  {"~", false},
      {"", false},
  };
  for (const auto& [name, excluded] : cases) EXPECT_EQ(DriveExclusions::isExcluded(name), excluded) << name;
}

}  // namespace
}  // namespace ostrel::drive
