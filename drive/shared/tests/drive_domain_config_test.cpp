#include "drive/shared/drive_domain_config.h"

#include <gtest/gtest.h>

namespace ostrel::drive {
namespace {

TEST(DriveDomainConfigTest, FileLivesInTheDomainsFolder) {
  EXPECT_EQ(DriveDomainConfig::url("/group", "firm-drive"), std::filesystem::path("/group/domains/firm-drive.json"));
  EXPECT_EQ(DriveDomainConfig::url("/group", "a b.c"), std::filesystem::path("/group/domains/a b.c.json"));
  for (const char* escaping : {"", ".", "..", "../x", "a/b", "/abs"}) {
    EXPECT_FALSE(DriveDomainConfig::url("/group", escaping)) << escaping;
  }
  EXPECT_FALSE(DriveDomainConfig::url("/group", std::string_view("a\0b", 3)));
}

TEST(DriveDomainConfigTest, EncodesCompactlyAndDecodesStrictly) {
  DriveDomainConfig config{"https://ostrel.example/firm/", "Ostrel \u2014 Firm"};
  EXPECT_EQ(config.encoded(), "{\"apiBase\":\"https://ostrel.example/firm/\",\"displayName\":\"Ostrel \u2014 Firm\"}");
  EXPECT_EQ(DriveDomainConfig::decode(config.encoded()), config);

  const std::pair<const char*, bool> cases[] = {
      {R"({"displayName":"D","apiBase":"http:\/\/h\/"})", true},
      {R"({"apiBase":"h","displayName":"D","extra":1})", true},
      {R"({"apiBase":"h"})", false},
      {R"({"apiBase":"h","displayName":3})", false},
      {R"({"api_base":"h","display_name":"D"})", false},
      {R"(["h","D"])", false},
      {"", false},
      {"{\"apiBase\":\"\xff\",\"displayName\":\"D\"}", false},
  };
  for (const auto& [text, decodes] : cases) EXPECT_EQ(DriveDomainConfig::decode(text).has_value(), decodes) << text;
  EXPECT_EQ(DriveDomainConfig::decode(R"({"displayName":"D","apiBase":"http:\/\/h\/"})")->apiBase, "http://h/");
}

TEST(DriveDomainConfigTest, LayoutKey) {
  EXPECT_EQ(layoutReimportKey("firm"), "drive.layoutReimportGeneration.firm");
}

}  // namespace
}  // namespace ostrel::drive
