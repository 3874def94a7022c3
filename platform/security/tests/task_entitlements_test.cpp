#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "platform/security/task_entitlements.h"

namespace ostrel::security {
namespace {

namespace fs = std::filesystem;

constexpr const char* groups = "com.apple.security.application-groups";

std::string plist(const std::string& body) {
  return R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><dict>)" + body + "</dict></plist>";
}

class TaskEntitlementsTest : public ::testing::Test {
 protected:
  TaskEntitlementsTest() {
    std::string pattern = (fs::temp_directory_path() / "ostrel-entitlements-XXXXXX").string();
    dir_ = ::mkdtemp(pattern.data());
    if (const char* old = std::getenv("OSTREL_ENTITLEMENTS_FILE")) saved_ = old;
  }
  ~TaskEntitlementsTest() override {
    if (saved_) {
      ::setenv("OSTREL_ENTITLEMENTS_FILE", saved_->c_str(), 1);
    } else {
      ::unsetenv("OSTREL_ENTITLEMENTS_FILE");
    }
    fs::remove_all(dir_);
  }
  fs::path write(const std::string& name, const std::string& text) {
    std::ofstream(dir_ / name) << text;
    return dir_ / name;
  }
  fs::path dir_;
  std::optional<std::string> saved_;
};

TEST_F(TaskEntitlementsTest, OnlyAnArrayOfStringsIsAStringArray) {
  struct Case {
    std::string body;
    std::optional<std::vector<std::string>> expected;
  };
  const std::vector<Case> cases{
      {"<key>com.apple.security.application-groups</key><array><string>T.a</string><string>T.b</string></array>",
       std::vector<std::string>{"T.a", "T.b"}},
      {"<key>com.apple.security.application-groups</key><array/>", std::vector<std::string>{}},
      {"<key>com.apple.security.application-groups</key><string>T.a</string>", std::nullopt},
      {"<key>com.apple.security.application-groups</key><array><true/></array>", std::nullopt},
      {"<key>com.apple.security.network.client</key><true/>", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.body);
    const auto entitlements = TaskEntitlements::fromFile(write("e.plist", plist(c.body)));
    EXPECT_FALSE(entitlements.empty());
    EXPECT_EQ(entitlements.stringArrayForEntitlement(groups), c.expected);
  }
  EXPECT_TRUE(TaskEntitlements::fromFile(dir_ / "missing").empty());
  EXPECT_TRUE(TaskEntitlements::fromFile(write("junk", "not a plist")).empty());
}

TEST_F(TaskEntitlementsTest, TheRunningProgramReadsTheFileBesideItUnlessTheEnvironmentNamesAnother) {
  const auto named = write("named.plist", plist("<key>com.apple.security.application-groups</key>"
                                                "<array><string>NAMED.group</string></array>"));
  ::setenv("OSTREL_ENTITLEMENTS_FILE", named.c_str(), 1);
  EXPECT_EQ(entitlementsFileOfSelf(), named);
  EXPECT_EQ(TaskEntitlements::fromSelf().stringArrayForEntitlement(groups), std::vector<std::string>{"NAMED.group"});

  ::setenv("OSTREL_ENTITLEMENTS_FILE", "", 1);
  EXPECT_FALSE(entitlementsFileOfSelf());
  EXPECT_TRUE(TaskEntitlements::fromSelf().empty());

  ::unsetenv("OSTREL_ENTITLEMENTS_FILE");
  const fs::path beside = fs::canonical("/proc/self/exe").string() + ".entitlements";
  EXPECT_EQ(entitlementsFileOfSelf(), beside);
  EXPECT_EQ(TaskEntitlements::fromSelf().empty(), !fs::exists(beside));
}

}  // namespace
}  // namespace ostrel::security
