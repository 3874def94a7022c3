#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "platform/foundation/bundle.h"
#include "platform/foundation/property_list.h"
#include "platform/foundation/uniform_type.h"

namespace ostrel {
namespace {

namespace fs = std::filesystem;

constexpr const char* infoPlist = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict>
  <key>CFBundleIdentifier</key><string>local.ostrel.desktop.drive</string>
  <key>OstrelAppGroup</key><string>TEAM.local.ostrel.desktop</string>
  <key>NotAString</key><integer>7</integer>
  <key>Groups</key><array><string>a</string><string>b</string></array>
  <key>NSExtension</key><dict><key>NSExtensionPrincipalClass</key><string>FileProviderExtension</string></dict>
</dict></plist>)";

class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "ostrel-bundle-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~TempDir() { fs::remove_all(path_); }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

TEST(PropertyListTest, ReadsTypedValuesAndRefusesTheRest) {
  auto list = PropertyList::parse(infoPlist);
  ASSERT_TRUE(list);
  EXPECT_EQ(list->stringForKey("OstrelAppGroup"), "TEAM.local.ostrel.desktop");
  EXPECT_FALSE(list->stringForKey("NotAString"));
  EXPECT_EQ(list->integerForKey("NotAString"), 7);
  EXPECT_FALSE(list->stringForKey("Missing"));
  EXPECT_EQ(list->stringArrayForKey("Groups"), (std::vector<std::string>{"a", "b"}));
  auto extension = list->dictionaryForKey("NSExtension");
  ASSERT_TRUE(extension);
  EXPECT_EQ(extension->stringForKey("NSExtensionPrincipalClass"), "FileProviderExtension");
  for (const char* garbage : {"", "not a plist", "bplist00\x01\x02", "<plist><dict><key>a</key>"}) {
    EXPECT_FALSE(PropertyList::parse(garbage)) << garbage;
  }
}

TEST(PropertyListTest, BinaryStringRoundTrips) {
  auto encoded = binaryPropertyListOfString("hello");
  ASSERT_TRUE(encoded);
  EXPECT_EQ(encoded->size(), 47u);
  EXPECT_TRUE(encoded->starts_with("bplist00"));
  EXPECT_TRUE(PropertyList::parse(*encoded));
}

TEST(BundleTest, FindsTheBundleOfABinaryAndItsInfo) {
  TempDir dir;
  const fs::path root = dir.path() / "OstrelDrive.appex";
  fs::create_directories(root / "Contents" / "MacOS");
  std::ofstream(root / "Contents" / "Info.plist") << infoPlist;
  auto bundle = Bundle::containingBinary(root / "Contents" / "MacOS" / "OstrelDrive");
  EXPECT_EQ(bundle.bundlePath(), root);
  EXPECT_EQ(bundle.bundleIdentifier(), "local.ostrel.desktop.drive");
  EXPECT_EQ(bundle.infoString("OstrelAppGroup"), "TEAM.local.ostrel.desktop");

  auto bare = Bundle::containingBinary(dir.path() / "bin" / "word-relay");
  EXPECT_EQ(bare.bundlePath(), dir.path() / "bin");
  EXPECT_FALSE(bare.infoDictionary());
  EXPECT_FALSE(bare.bundleIdentifier());
}

TEST(BundleTest, GroupContainersLiveUnderOstrelHomeAndRefuseOddNames) {
  TempDir dir;
  setenv("OSTREL_HOME", dir.path().c_str(), 1);
  auto container = containerForApplicationGroup("TEAM.local.ostrel.desktop");
  ASSERT_TRUE(container);
  EXPECT_EQ(*container, dir.path() / "Group Containers" / "TEAM.local.ostrel.desktop");
  EXPECT_TRUE(fs::is_directory(*container));
  for (const char* bad : {"", ".", "..", "a/b", "../escape"}) EXPECT_FALSE(containerForApplicationGroup(bad)) << bad;
  unsetenv("OSTREL_HOME");
}

TEST(UniformTypeTest, ExtensionsAndConformance) {
  EXPECT_EQ(UTType::forFilenameExtension("DOCX"), "org.openxmlformats.wordprocessingml.document");
  EXPECT_FALSE(UTType::forFilenameExtension("nope"));
  EXPECT_FALSE(UTType::forFilenameExtension(""));
  EXPECT_TRUE(UTType::conforms("org.openxmlformats.wordprocessingml.document", UTType::data));
  EXPECT_TRUE(UTType::conforms(UTType::folder, UTType::directory));
  EXPECT_FALSE(UTType::conforms(UTType::folder, UTType::data));
  EXPECT_FALSE(UTType::conforms(UTType::symbolicLink, UTType::data));
  EXPECT_TRUE(UTType::conforms(UTType::aliasFile, UTType::data));
  EXPECT_TRUE(UTType::conforms("dyn.unknown", "dyn.unknown"));
  EXPECT_FALSE(UTType::conforms("dyn.unknown", UTType::data));

  const std::pair<const char*, const char*> extensions[] = {
      {"Brief.docx", "docx"}, {"archive.tar.gz", "gz"}, {"README", ""}, {".profile", ""}, {"trailing.", ""},
      {"a.b.", ""},           {"x.PDF", "PDF"},
  };
  for (const auto& [name, extension] : extensions) EXPECT_EQ(pathExtension(name), extension) << name;
}

}  // namespace
}  // namespace ostrel
