#include <gtest/gtest.h>

#include "platform/fileprovider/entry_names.h"

namespace ostrel::fileprovider {
namespace {

TEST(EntryNamesTest, AnyServiceNameBecomesOneTheKernelTakes) {
  const std::string longName(300, 'x');
  const std::string accents = std::string(254, 'a') + "\xC3\xA9";  // the é would end past 255 bytes
  const struct {
    std::string service;
    std::string shown;
  } cases[] = {
      {"Memo.docx", "Memo.docx"},
      {"", "_"},
      {".", "_."},
      {"..", "_.."},
      {"...", "..."},
      {"a/b", "a\u2215b"},
      {"/etc/x", "\u2215etc\u2215x"},
      {std::string("nul\0here", 8), "nul\uFFFDhere"},
      {longName, std::string(255, 'x')},
      {accents, std::string(254, 'a')},
  };
  for (const auto& [service, shown] : cases) {
    EXPECT_EQ(safeEntryName(service), shown) << service;
    EXPECT_LE(safeEntryName(service).size(), longestEntryName);
  }
}

TEST(EntryNamesTest, NamesThatMeetAreNumberedBeforeTheExtension) {
  EXPECT_EQ(numberedEntryName("Same.txt", 2), "Same (2).txt");
  EXPECT_EQ(numberedEntryName("Report.final.docx", 3), "Report.final (3).docx");
  EXPECT_EQ(numberedEntryName("Notes", 2), "Notes (2)");
  EXPECT_EQ(numberedEntryName(".profile", 2), ".profile (2)");

  const std::string longStem = std::string(251, 's') + ".txt";
  const std::string numbered = numberedEntryName(longStem, 12);
  EXPECT_EQ(numbered.size(), longestEntryName);
  EXPECT_TRUE(numbered.ends_with(" (12).txt")) << numbered;
  const std::string longExtension = "a." + std::string(253, 'e');
  EXPECT_LE(numberedEntryName(longExtension, 7).size(), longestEntryName);
  EXPECT_TRUE(numberedEntryName(longExtension, 7).ends_with(" (7)"));
}

TEST(EntryNamesTest, ANumberedNameIsKnownAsAFormOfItsName) {
  const struct {
    std::string shown;
    std::string name;
    bool form;
  } cases[] = {
      {"Same.txt", "Same.txt", true},
      {"Same (2).txt", "Same.txt", true},
      {"Same (17).txt", "Same.txt", true},
      {"Same (1).txt", "Same.txt", false},
      {"Same (x).txt", "Same.txt", false},
      {"Same (2).doc", "Same.txt", false},
      {"Other (2).txt", "Same.txt", false},
      {"Notes (3)", "Notes", true},
      {"Same (2).txt", "Same (2).txt", true},
      {numberedEntryName(std::string(251, 's') + ".txt", 40), std::string(251, 's') + ".txt", true},
  };
  for (const auto& [shown, name, form] : cases) EXPECT_EQ(isNumberedFormOf(shown, name), form) << shown;
}

}  // namespace
}  // namespace ostrel::fileprovider
