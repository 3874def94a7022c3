#include <gtest/gtest.h>

#include <limits>

#include "platform/foundation/property_list.h"
#include "platform/foundation/property_list_writer.h"

namespace ostrel {
namespace {

constexpr const char* existing = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
  <key>name</key><string>Matters</string>
  <key>count</key><integer>4</integer>
  <key>flag</key><true/>
  <key>nested</key><dict><key>inner</key><string>kept</string></dict>
  <key>list</key><array><string>a</string><string>b</string></array>
</dict></plist>)";

TEST(PropertyListWriterTest, ChangedListsReadBackInBothFormatsWithUntouchedEntriesKept) {
  for (auto format : {PropertyListFormat::xml, PropertyListFormat::binary}) {
    SCOPED_TRACE(format == PropertyListFormat::xml ? "xml" : "binary");
    auto list = MutablePropertyList::parse(existing);
    ASSERT_TRUE(list);
    list->setInteger("count", 5);
    list->setInteger("negative", -42);
    list->setInteger("largest", std::numeric_limits<int64_t>::max());
    list->setString("name", "Renamed \u00e9 <&>");
    list->setStringArray("groups", {"TEAM.local.ostrel.desktop", "other"});
    list->setBool("flag", false);
    list->remove("list");
    list->remove("never there");

    const auto bytes = list->serialized(format);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(bytes->starts_with("bplist00"), format == PropertyListFormat::binary);
    const auto read = PropertyList::parse(*bytes);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->integerForKey("count"), 5);
    EXPECT_EQ(read->integerForKey("negative"), -42);
    EXPECT_EQ(read->integerForKey("largest"), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(read->stringForKey("name"), "Renamed \u00e9 <&>");
    EXPECT_EQ(read->stringArrayForKey("groups"), (std::vector<std::string>{"TEAM.local.ostrel.desktop", "other"}));
    EXPECT_EQ(read->boolForKey("flag"), false);
    EXPECT_FALSE(read->stringArrayForKey("list"));
    ASSERT_TRUE(read->dictionaryForKey("nested"));
    EXPECT_EQ(read->dictionaryForKey("nested")->stringForKey("inner"), "kept");
  }
}

TEST(PropertyListWriterTest, OnlyDictionariesCanBeEdited) {
  for (const char* bytes : {"", "not a plist", "<plist version=\"1.0\"><array><string>a</string></array></plist>",
                            "<plist version=\"1.0\"><string>a</string></plist>"}) {
    SCOPED_TRACE(bytes);
    const auto list = MutablePropertyList::parse(bytes);
    ASSERT_FALSE(list);
    EXPECT_EQ(list.error().domain, CocoaError::domain);
  }
}

// The writers would cut such a string short at a NUL or its first bad byte.
TEST(PropertyListWriterTest, AStringThatIsNotUTF8OrHoldsNULIsRefusedRatherThanCutShort) {
  struct Case {
    const char* what;
    std::string xml;
  };
  const Case cases[] = {
      {"value", "<plist version=\"1.0\"><dict><key>k</key><string>local.\x96tail</string></dict></plist>"},
      {"nested", "<plist version=\"1.0\"><dict><key>k</key><array><dict><key>i</key><string>\xc3</string></dict>"
                 "</array></dict></plist>"},
      {"NUL", std::string("<plist version=\"1.0\"><dict><key>k</key><string>com.\0\0e.tail</string></dict></plist>", 83)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto list = MutablePropertyList::parse(c.xml);
    ASSERT_TRUE(list);
    for (const auto format : {PropertyListFormat::xml, PropertyListFormat::binary}) {
      const auto written = list->serialized(format);
      ASSERT_FALSE(written);
      EXPECT_EQ(written.error().code, 3851);
    }
  }
  MutablePropertyList set;
  set.setString("name", "caf\xc3\xa9");
  EXPECT_TRUE(set.serialized(PropertyListFormat::binary));
  set.setStringArray("list", {"ok", "bad\xe2\x82"});
  EXPECT_FALSE(set.serialized(PropertyListFormat::binary));
}

// libplist's own string reader asserts on a NUL, which aborted any reader of
// such a file. (Its XML reader keeps no byte after the NUL.)
TEST(PropertyListWriterTest, AStringHoldingNULIsReadWithoutAborting) {
  const std::string xml("<plist version=\"1.0\"><dict><key>k</key><string>a\0b</string></dict></plist>", 74);
  const auto list = PropertyList::parse(xml);
  ASSERT_TRUE(list);
  const auto value = list->stringForKey("k");
  ASSERT_TRUE(value);
  EXPECT_EQ(value->substr(0, 2), std::string("a\0", 2));
}

}  // namespace
}  // namespace ostrel
