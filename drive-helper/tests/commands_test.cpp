#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "drive-helper/tests/process_support.h"
#include "drive/shared/drive_domain_config.h"
#include "platform/foundation/user_defaults.h"

namespace ostrel::drive::helper::testing {
namespace {

namespace fs = std::filesystem;
using json::Value;

std::string readFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

Value failure(const std::string& message) {
  return {{"ok", false}, {"error", message}};
}

Value description(const std::string& id, const std::string& name) {
  return {{"id", id}, {"display_name", name}, {"user_enabled", true}, {"disconnected", false}};
}

class CommandTest : public HelperProcessTest {
 protected:
  int64_t storedGeneration(const std::string& domain) const {
    auto defaults = UserDefaults::suite(group());
    return defaults ? defaults->integerForKey(layoutReimportKey(domain)) : -1;
  }
};

TEST_F(CommandTest, UsageFailures) {
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const std::string general = "usage: register | remove | list | serve";
  const std::vector<Case> cases{
      {{}, general},
      {{"bogus"}, general},
      {{"List"}, general},
      {{""}, general},
      {{"register"}, "usage: register <domain id> <display name> <api base>"},
      {{"register", "a", "A"}, "usage: register <domain id> <display name> <api base>"},
      {{"register", "a", "A", "https://x", "extra"}, "usage: register <domain id> <display name> <api base>"},
      {{"remove"}, "usage: remove <domain id> [--preserve]"},
      {{"serve"}, "usage: serve <domain id>"},
      {{"serve", "a", "b"}, "usage: serve <domain id>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const auto result = run(c.args);
    EXPECT_EQ(result.object(), failure(c.message));
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(result.errorLines.empty());
  }
  EXPECT_FALSE(fs::exists(container()));
}

TEST_F(CommandTest, RegisterWithoutTheGroupEntitlementFailsBeforeWritingAnything) {
  const fs::path entitlements = home_.root() / "entitlements";
  fs::create_directories(entitlements);
  auto write = [&](const std::string& name, const std::string& body) {
    std::ofstream(entitlements / name)
        << R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><dict>)" << body << "</dict></plist>";
    return (entitlements / name).string();
  };
  const std::vector<std::string> files{
      (entitlements / "missing").string(),
      "",  // set but empty: the program has no entitlements at all
      write("other", "<key>com.apple.security.network.client</key><true/>"),
      write("string", "<key>com.apple.security.application-groups</key><string>G.local.ostrel.desktop</string>"),
      write("empty", "<key>com.apple.security.application-groups</key><array/>"),
      write("mixed", "<key>com.apple.security.application-groups</key><array><integer>1</integer></array>"),
  };
  for (const auto& file : files) {
    SCOPED_TRACE(file);
    const auto result = run({"register", "a", "A", "https://ostrel.example/api"}, {{"OSTREL_ENTITLEMENTS_FILE", file}});
    EXPECT_EQ(result.object(), failure("no com.apple.security.application-groups entitlement"));
    EXPECT_EQ(result.status, 1);
  }
  EXPECT_FALSE(fs::exists(home_.home() / "Group Containers"));
}

TEST_F(CommandTest, RegisterRefusesIdentifiersThatWouldPlaceTheConfigurationElsewhere) {
  for (const std::string id : {"", ".", "..", "a/b", "../escape", "/abs"}) {
    SCOPED_TRACE(id);
    const auto result = run({"register", id, "Name", "https://ostrel.example/api"});
    EXPECT_EQ(result.object(), failure("invalid domain identifier"));
    EXPECT_EQ(result.status, 1);
  }
  EXPECT_FALSE(fs::exists(home_.home() / "Group Containers"));
  EXPECT_EQ(run({"list"}).object(), (Value{{"ok", true}, {"domains", Value::array()}}));
}

TEST_F(CommandTest, RegisterFailsWithoutAContainerOrAPlaceForTheConfigurationAndAddsNothing) {
  const fs::path entitlements = home_.root() / "unsafe.entitlements";
  std::ofstream(entitlements) << R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><dict>)"
                              << "<key>com.apple.security.application-groups</key><array><string>..</string></array>"
                              << "</dict></plist>";
  const auto noContainer =
      run({"register", "a", "A", "https://ostrel.example/api"}, {{"OSTREL_ENTITLEMENTS_FILE", entitlements.string()}});
  EXPECT_EQ(noContainer.object(), failure("no container for .."));
  EXPECT_EQ(noContainer.status, 1);

  // A file where the configuration folder belongs.
  fs::create_directories(container());
  std::ofstream(container() / "domains") << "in the way";
  const auto blocked = run({"register", "a", "A", "https://ostrel.example/api"});
  EXPECT_EQ(blocked.status, 1);
  const auto object = blocked.object();
  EXPECT_EQ(object.size(), 2u);
  EXPECT_EQ(object.at("ok"), false);
  EXPECT_TRUE(object.at("error").get<std::string>().starts_with("write config: ")) << object.dump();
  EXPECT_EQ(run({"list"}).object(), (Value{{"ok", true}, {"domains", Value::array()}}));
}

TEST_F(CommandTest, RegisterAddsOnceAndRewritesTheConfigurationEveryTime) {
  const auto added = run({"register", "matters", "Matters", "https://ostrel.example/api/"});
  ASSERT_EQ(added.status, 0) << ::testing::PrintToString(added.lines);
  EXPECT_EQ(added.object(), (Value{{"ok", true}, {"added", true}, {"domain", description("matters", "Matters")}}));
  EXPECT_EQ(DriveDomainConfig::decode(readFile(configFile("matters"))),
            (DriveDomainConfig{"https://ostrel.example/api/", "Matters"}));
  EXPECT_EQ(storedGeneration("matters"), driveLayoutReimportGeneration);

  // Registered again: the domain keeps its name, the file takes the new one,
  // and the generation is left alone.
  ASSERT_TRUE(UserDefaults::suite(group())->setInteger(0, layoutReimportKey("matters")));
  const auto again = run({"register", "matters", "Renamed", "https://other.example/api"});
  ASSERT_EQ(again.status, 0);
  EXPECT_EQ(again.object(), (Value{{"ok", true}, {"added", false}, {"domain", description("matters", "Matters")}}));
  EXPECT_EQ(readFile(configFile("matters")), (DriveDomainConfig{"https://other.example/api", "Renamed"}.encoded()));
  EXPECT_EQ(storedGeneration("matters"), 0);

  // Only the configuration itself is left in its folder.
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(configFile("matters").parent_path())) {
    names.push_back(entry.path().filename());
  }
  EXPECT_EQ(names, std::vector<std::string>{"matters.json"});
}

TEST_F(CommandTest, ListShowsEveryRegisteredDomain) {
  EXPECT_EQ(run({"list"}).object(), (Value{{"ok", true}, {"domains", Value::array()}}));
  ASSERT_EQ(run({"register", "one", "One", "https://ostrel.example/api"}).status, 0);
  ASSERT_EQ(run({"register", "two", "Two \"quoted\" / é", "https://ostrel.example/api"}).status, 0);

  const auto listed = run({"list", "ignored", "arguments"});
  EXPECT_EQ(listed.status, 0);
  const auto object = listed.object();
  EXPECT_EQ(object.at("ok"), true);
  std::vector<Value> domains = object.at("domains");
  ASSERT_EQ(domains.size(), 2u);
  std::ranges::sort(domains, {}, [](const Value& domain) { return domain.at("id").get<std::string>(); });
  EXPECT_EQ(domains[0], description("one", "One"));
  EXPECT_EQ(domains[1], description("two", "Two \"quoted\" / é"));
}

TEST_F(CommandTest, RemoveTakesTheDomainAndLeavesItsConfiguration) {
  const auto absent = run({"remove", "nothing"});
  EXPECT_EQ(absent.object(), (Value{{"ok", true}, {"removed", false}}));
  EXPECT_EQ(absent.status, 0);

  ASSERT_EQ(run({"register", "matters", "Matters", "https://ostrel.example/api"}).status, 0);
  const auto removed = run({"remove", "matters"});
  EXPECT_EQ(removed.status, 0);
  EXPECT_EQ(removed.object(), (Value{{"ok", true}, {"removed", true}, {"preserved_path", nullptr}}));
  EXPECT_EQ(run({"list"}).object(), (Value{{"ok", true}, {"domains", Value::array()}}));
  EXPECT_TRUE(fs::exists(configFile("matters")));
  EXPECT_EQ(storedGeneration("matters"), driveLayoutReimportGeneration);

  // Registered again, it is new once more.
  EXPECT_EQ(run({"register", "matters", "Matters 2", "https://ostrel.example/api"}).object().at("added"), true);
  EXPECT_EQ(DriveDomainConfig::decode(readFile(configFile("matters")))->displayName, "Matters 2");
}

TEST_F(CommandTest, PreserveIsHonouredAnywhereEvenAsTheDomainIdentifier) {
  ASSERT_EQ(run({"register", "--preserve", "Odd", "https://ostrel.example/api"}).status, 0);
  ASSERT_EQ(run({"register", "kept", "Kept", "https://ostrel.example/api"}).status, 0);

  for (const std::vector<std::string>& args : {std::vector<std::string>{"remove", "--preserve"},
                                              std::vector<std::string>{"remove", "kept", "x", "--preserve"}}) {
    SCOPED_TRACE(::testing::PrintToString(args));
    const auto result = run(args);
    EXPECT_EQ(result.status, 0);
    const auto object = result.object();
    EXPECT_EQ(object.at("ok"), true);
    EXPECT_EQ(object.at("removed"), true);
    // Nothing was written into these domains, so there is nothing to keep.
    EXPECT_TRUE(object.at("preserved_path").is_null()) << object.dump();
  }
  EXPECT_EQ(run({"list"}).object(), (Value{{"ok", true}, {"domains", Value::array()}}));
}

}  // namespace
}  // namespace ostrel::drive::helper::testing
