#include <gtest/gtest.h>
#include <signal.h>

#include <nlohmann/json.hpp>

#include "word-relay/tests/relay_fixture.h"

namespace ostrel::word {
namespace {

using nlohmann::json;

json frontmostEvent(const std::string& id, const std::string& name, bool isWord) {
  return {{"event", "frontmost"}, {"app_id", id}, {"app_name", name}, {"is_word", isWord}};
}

class WatchTest : public testing::RelayFixture {};

TEST_F(WatchTest, HelloThenTheFrontmostApplicationThenEachActivation) {
  appendActivation(R"({"application":{"bundle_id":"before.the.watch"}})");
  testing::RunningRelay relay = start({"watch"});
  EXPECT_EQ(relay.nextObject(), json({{"event", "hello"}}));
  EXPECT_EQ(relay.nextObject(), frontmostEvent("com.apple.finder", "Finder", false));

  appendActivation(R"({"application":{"bundle_id":"com.microsoft.Word","name":"Microsoft Word","pid":100}})");
  EXPECT_EQ(relay.nextObject(), frontmostEvent("com.microsoft.Word", "Microsoft Word", true));
  appendActivation(R"({"application":{"bundle_id":"com.microsoft.Word","name":"Microsoft Word","pid":100}})");
  EXPECT_EQ(relay.nextObject(), frontmostEvent("com.microsoft.Word", "Microsoft Word", true));
  appendActivation(R"({"application":null})");
  EXPECT_EQ(relay.nextObject(), frontmostEvent("", "", false));
  appendActivation(R"({"application":{"name":"Unbundled"}})");
  EXPECT_EQ(relay.nextObject(), frontmostEvent("", "Unbundled", false));

  EXPECT_EQ(relay.nextObject(std::chrono::milliseconds(300)), std::nullopt);
  relay.signal(SIGTERM);
  EXPECT_EQ(relay.waitForExit(), 0);
}

TEST_F(WatchTest, NothingInFrontAtStart) {
  writeWorkspace("frontmost.json", nullptr);
  testing::RunningRelay relay = start({"watch"});
  EXPECT_EQ(relay.nextObject(), json({{"event", "hello"}}));
  EXPECT_EQ(relay.nextObject(), frontmostEvent("", "", false));
}

TEST_F(WatchTest, AWorkspaceThatCannotBeWatchedEndsTheWatch) {
  testing::RunningRelay relay = start({"watch"}, {{"OSTREL_HOME", "/proc/no-such-ostrel-home"}});
  EXPECT_EQ(relay.nextObject(), json({{"event", "hello"}}));
  auto failure = relay.nextObject();
  ASSERT_TRUE(failure.has_value());
  EXPECT_EQ((*failure)["ok"], false);
  EXPECT_EQ((*failure)["code"], "WATCH_FAILED");
  EXPECT_TRUE((*failure)["error"].get<std::string>().starts_with("could not follow the frontmost application: "));
  EXPECT_EQ(relay.waitForExit(), 0);
}

}  // namespace
}  // namespace ostrel::word
