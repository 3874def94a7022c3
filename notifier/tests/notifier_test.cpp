#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "platform/usernotifications/testing/session_bus.h"

namespace ostrel::notifier {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::ChildProcess;

constexpr const char* windowHook = "OSTREL_TEST_HOOK_NOTIFICATION_RESPONSE_WINDOW_MS";

// Each test has a directory with an opener that records the addresses it
// is given, one per line.
class NotifierTest : public testing::NotificationBusTest {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/notifier-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    root = pattern;
    std::ofstream(root / "opener") << "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" << (root / "opened").string() << "'\n";
    fs::permissions(root / "opener", fs::perms::owner_all);
    testing::NotificationBusTest::SetUp();
  }
  void TearDown() override { fs::remove_all(root); }

  ChildProcess start(const std::vector<std::string>& arguments, const fs::path& binary = NOTIFIER_BINARY,
                     testing::Environment extra = {}) {
    std::vector<std::string> command{binary.string()};
    command.insert(command.end(), arguments.begin(), arguments.end());
    extra.emplace_back("OSTREL_URL_OPENER", (root / "opener").string());
    extra.emplace_back("OSTREL_HOME", (root / "home").string());
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

  // A copy of the agent in a bundle of its own, with the given Info.plist
  // entries (key, string value).
  fs::path bundleWith(const std::string& name, const std::vector<std::pair<std::string, std::string>>& info) {
    const fs::path macos = root / (name + ".app") / "Contents" / "MacOS";
    fs::create_directories(macos);
    fs::copy_file(NOTIFIER_BINARY, macos / "OstrelNotifier");
    std::ofstream plist(macos.parent_path() / "Info.plist");
    plist << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n";
    for (const auto& [key, value] : info) plist << "<key>" << key << "</key><string>" << value << "</string>\n";
    plist << "</dict>\n</plist>\n";
    return macos / "OstrelNotifier";
  }

  fs::path root;
};

class NotifierWithoutServerTest : public NotifierTest {
 protected:
  bool wantsServer() const override { return false; }
};

TEST_F(NotifierTest, PostIsRecordedAndTheAgentWaitsForTheClickOrClose) {
  auto agent = start({R"({"title":"Draft saved","body":"Brief.docx is a new version"})"});
  const auto calls = server->waitForNotifyCalls(1, 10s);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0]["summary"], "Draft saved");
  EXPECT_EQ(calls[0]["body"], "Brief.docx is a new version");
  EXPECT_EQ(calls[0]["hints"]["urgency"], 2);  // time-sensitive unless told otherwise
  EXPECT_EQ(calls[0]["hints"]["sound-name"], "message-new-instant");

  // Still there for a click well after the post, until the partner closes it.
  EXPECT_EQ(agent.waitForExit(1500ms), std::nullopt);
  server->close(1, 2);
  EXPECT_EQ(agent.waitForExit(10s), 0);
  EXPECT_THAT(opened(), IsEmpty());
}

TEST_F(NotifierTest, ClickOpensTheTargetInTheDesktopApplication) {
  auto agent = start({R"({"title":"a","body":"b","timeSensitive":false,"target":"x y"})"});
  const auto calls = server->waitForNotifyCalls(1, 10s);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0]["hints"]["urgency"], 1);
  server->click(1);
  EXPECT_EQ(agent.waitForExit(10s), 0);
  EXPECT_THAT(opened(), ElementsAre("ostrel://notify?to=x%20y"));
}

TEST_F(NotifierTest, ClickWithoutTargetOpensNothingAndEnds) {
  auto agent = start({R"({"title":"a","body":"b"})"});
  ASSERT_EQ(server->waitForNotifyCalls(1, 10s).size(), 1u);
  server->click(1);
  EXPECT_EQ(agent.waitForExit(10s), 0);
  EXPECT_THAT(opened(), IsEmpty());
}

TEST_F(NotifierTest, SchemeComesFromInfoPlist) {
  struct Case {
    std::string bundle;
    std::vector<std::pair<std::string, std::string>> info;
    std::vector<std::string> opened;
  };
  const std::vector<Case> cases = {
      {"Custom", {{"OstrelURLScheme", "acme-dev"}}, {"acme-dev://notify?to=m%2F7"}},
      {"Plain", {{"CFBundleName", "OstrelNotifier"}}, {"ostrel://notify?to=m%2F7"}},
      // No address can start with this scheme: nothing is opened.
      {"Broken", {{"OstrelURLScheme", "not a scheme"}}, {}},
  };
  uint32_t id = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bundle);
    fs::remove(root / "opened");
    auto agent = start({R"({"title":"a","body":"b","target":"m/7"})"}, bundleWith(c.bundle, c.info));
    ASSERT_EQ(server->waitForNotifyCalls(++id, 10s).size(), id);
    server->click(id);
    EXPECT_EQ(agent.waitForExit(10s), 0);
    EXPECT_EQ(opened(), c.opened);
  }
}

TEST_F(NotifierTest, PermissionRequestPostsNothing) {
  auto agent = start({R"({"request":true,"title":"a","body":"b"})"});
  EXPECT_EQ(agent.waitForExit(10s), 0);
  EXPECT_THAT(server->notifyCalls(), IsEmpty());
}

TEST_F(NotifierTest, UnusablePayloadsPostNothingAndEndAfterFiveSeconds) {
  const std::vector<std::vector<std::string>> argumentLists = {
      {R"({"title":"a"})"}, {R"({"body":"b"})"}, {R"({"title":5,"body":"b"})"}, {"not json"}, {},
  };
  std::vector<ChildProcess> agents;
  for (const auto& arguments : argumentLists) agents.push_back(start(arguments));
  std::this_thread::sleep_for(3s);
  for (size_t i = 0; i < agents.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(agents[i].waitForExit(0ms), std::nullopt) << "ended before its five seconds";
  }
  for (size_t i = 0; i < agents.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(agents[i].waitForExit(10s), 0);
  }
  EXPECT_THAT(server->notifyCalls(), IsEmpty());
}

TEST_F(NotifierTest, UnansweredNotificationIsWithdrawnWhenTheWindowPasses) {
  auto agent = start({R"({"title":"a","body":"b","target":"t"})"}, NOTIFIER_BINARY, {{windowHook, "1000"}});
  ASSERT_EQ(server->waitForNotifyCalls(1, 10s).size(), 1u);
  EXPECT_EQ(agent.waitForExit(15s), 0);
  EXPECT_THAT(server->closeRequests(), ElementsAre(1u));
  EXPECT_THAT(opened(), IsEmpty());
}

TEST_F(NotifierTest, EndsWhenTheSessionBusGoesAfterThePost) {
  auto agent = start({R"({"title":"a","body":"b","target":"t"})"});
  ASSERT_EQ(server->waitForNotifyCalls(1, 10s).size(), 1u);
  EXPECT_EQ(agent.waitForExit(500ms), std::nullopt) << "waits for the click while the bus is there";
  server.reset();
  bus.reset();
  // Far inside the ten-minute window: no click can arrive without a bus.
  EXPECT_EQ(agent.waitForExit(10s), 0);
  EXPECT_THAT(opened(), IsEmpty());
}

TEST_F(NotifierWithoutServerTest, DeniedPermissionEndsWithoutWaitingForAClick) {
  // Well before the five seconds of an unusable payload.
  for (const char* payload : {R"({"title":"a","body":"b","target":"t"})", R"({"request":true})"}) {
    SCOPED_TRACE(payload);
    auto agent = start({payload});
    EXPECT_EQ(agent.waitForExit(4s), 0);
  }
  // A server that comes later has been told nothing.
  startServer();
  EXPECT_THAT(server->notifyCalls(), IsEmpty());
}

}  // namespace
}  // namespace ostrel::notifier
