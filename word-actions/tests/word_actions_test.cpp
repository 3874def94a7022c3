#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/usernotifications/testing/session_bus.h"

namespace ostrel::wordactions {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::ChildProcess;

constexpr const char* lifetimeHook = "OSTREL_TEST_HOOK_WORD_ACTIONS_LIFETIME_MS";

// Each test has a directory with an opener that records the addresses it
// is given, one per line, and a data home for the desktop entry.
class WordActionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/word-actions-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    root = pattern;
    std::ofstream(root / "opener") << "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" << (root / "opened").string() << "'\n";
    fs::permissions(root / "opener", fs::perms::owner_all);
  }
  void TearDown() override { fs::remove_all(root); }

  ChildProcess start(std::vector<std::string> command, testing::Environment extra = {}) {
    extra.emplace_back("OSTREL_URL_OPENER", (root / "opener").string());
    extra.emplace_back("OSTREL_HOME", (root / "home").string());
    extra.emplace_back("XDG_DATA_HOME", (root / "data").string());
    auto started = ChildProcess::start(command, extra);
    EXPECT_TRUE(started) << started.error();
    return std::move(*started);
  }

  std::vector<std::string> opened() const {
    std::ifstream in(root / "opened");
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  // A copy of the agent in a bundle of its own whose Info.plist holds `info`.
  fs::path bundleWith(const std::string& name, const std::string& info) {
    const fs::path macos = root / (name + ".app") / "Contents" / "MacOS";
    fs::create_directories(macos);
    fs::copy_file(WORD_ACTIONS_BINARY, macos / "OstrelWordActions");
    std::ofstream(macos.parent_path() / "Info.plist")
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
        << info << "</dict>\n</plist>\n";
    return macos / "OstrelWordActions";
  }

  fs::path root;
};

TEST_F(WordActionsTest, EachServicesEntryOpensItsAddressAndEnds) {
  const std::map<std::string, std::string> cases = {
      {"openFromOstrel", "ostrel://word/open"},
      {"saveAsNew", "ostrel://word/save-as-new"},
      {"saveVersion", "ostrel://word/save-version"},
  };
  for (const auto& [message, address] : cases) {
    SCOPED_TRACE(message);
    fs::remove(root / "opened");
    auto agent = start({WORD_ACTIONS_BINARY, "--service", message});
    // About a second after forwarding, far from the half minute of an idle agent.
    EXPECT_EQ(agent.waitForExit(10s), 0);
    EXPECT_THAT(opened(), ElementsAre(address));
  }
}

TEST_F(WordActionsTest, SchemeComesFromInfoPlist) {
  struct Case {
    std::string bundle;
    std::string info;
    std::vector<std::string> opened;
  };
  const std::vector<Case> cases = {
      {"Custom", "<key>OstrelURLScheme</key><string>acme-dev</string>\n", {"acme-dev://word/save-as-new"}},
      {"Plain", "<key>CFBundleName</key><string>X</string>\n", {"ostrel://word/save-as-new"}},
      {"NotAString", "<key>OstrelURLScheme</key><integer>5</integer>\n", {"ostrel://word/save-as-new"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bundle);
    fs::remove(root / "opened");
    auto agent = start({bundleWith(c.bundle, c.info).string(), "--service", "saveAsNew"});
    EXPECT_EQ(agent.waitForExit(10s), 0);
    EXPECT_EQ(opened(), c.opened);
  }
}

TEST_F(WordActionsTest, UnknownEntryOpensNothing) {
  auto agent = start({WORD_ACTIONS_BINARY, "--service", "deleteEverything"}, {{lifetimeHook, "1500"}});
  EXPECT_EQ(agent.waitForExit(10s), 0);
  EXPECT_THAT(opened(), IsEmpty());
}

// The program's own half minute, without the test hook.
TEST_F(WordActionsTest, IdleOrInvalidSchemeAgentEndsAfterThirtySeconds) {
  auto idle = start({WORD_ACTIONS_BINARY});
  auto invalid = start({bundleWith("Bad", "<key>OstrelURLScheme</key><string>not a scheme</string>\n").string(),
                        "--service", "saveVersion"});
  std::this_thread::sleep_for(25s);
  EXPECT_EQ(idle.waitForExit(0ms), std::nullopt) << "ended before its thirty seconds";
  EXPECT_EQ(invalid.waitForExit(0ms), std::nullopt) << "ended before its thirty seconds";
  EXPECT_EQ(idle.waitForExit(15s), 0);
  EXPECT_EQ(invalid.waitForExit(15s), 0);
  EXPECT_THAT(opened(), IsEmpty());
}

// Undoes the quoting of one Exec line (quoted arguments, "\\" escapes).
std::vector<std::string> execArguments(const std::string& line) {
  std::vector<std::string> arguments;
  std::string current;
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '\\' && i + 1 < line.size()) {
      current += line[++i];
    } else if (c == '"') {
      quoted = !quoted;
    } else if (c == ' ' && !quoted) {
      arguments.push_back(std::exchange(current, {}));
    } else {
      current += c;
    }
  }
  arguments.push_back(current);
  return arguments;
}

TEST_F(WordActionsTest, DesktopEntryOffersEachEntryAsAnAction) {
  auto agent = start({WORD_ACTIONS_BINARY}, {{lifetimeHook, "1000"}});
  ASSERT_EQ(agent.waitForExit(10s), 0);
  const fs::path entry = root / "data" / "applications" / "local.ostrel.desktop.word-actions.desktop";
  std::ifstream in(entry);
  ASSERT_TRUE(in) << entry;

  std::map<std::string, std::map<std::string, std::string>> groups;
  std::string group;
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with("[")) {
      group = line.substr(1, line.size() - 2);
    } else if (auto equals = line.find('='); equals != std::string::npos) {
      groups[group][line.substr(0, equals)] = line.substr(equals + 1);
    }
  }
  EXPECT_EQ(groups["Desktop Entry"]["Actions"], "openFromOstrel;saveAsNew;saveVersion;");
  EXPECT_EQ(groups["Desktop Entry"]["Type"], "Application");

  // Starting each action as a desktop would forwards its entry.
  const std::map<std::string, std::string> addresses = {{"openFromOstrel", "ostrel://word/open"},
                                                        {"saveAsNew", "ostrel://word/save-as-new"},
                                                        {"saveVersion", "ostrel://word/save-version"}};
  for (const auto& [action, address] : addresses) {
    SCOPED_TRACE(action);
    fs::remove(root / "opened");
    const auto& fields = groups["Desktop Action " + action];
    ASSERT_TRUE(fields.contains("Exec"));
    EXPECT_FALSE(fields.at("Name").empty());
    auto launched = start(execArguments(fields.at("Exec")));
    EXPECT_EQ(launched.waitForExit(10s), 0);
    EXPECT_THAT(opened(), ElementsAre(address));
  }
}

}  // namespace
}  // namespace ostrel::wordactions
