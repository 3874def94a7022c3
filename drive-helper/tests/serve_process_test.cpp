#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>

#include "drive-helper/tests/process_support.h"
#include "drive/shared/drive_domain_config.h"
#include "platform/foundation/user_defaults.h"

namespace ostrel::drive::helper::testing {
namespace {

using json::Value;

// serve against the system's manager while no file provider daemon runs.
class ServeProcessTest : public HelperProcessTest {
 protected:
  // Reads event lines until one satisfies `wanted`; every line read lands in `seen`.
  static std::optional<Value> readUntil(ostrel::testing::ChildProcess& child, std::vector<Value>& seen,
                                        const std::function<bool(const Value&)>& wanted) {
    while (auto line = child.readOutputLine(kWait)) {
      auto event = Value::parse(*line, nullptr, false);
      EXPECT_TRUE(event.is_object()) << *line;
      seen.push_back(event);
      if (wanted(event)) return event;
    }
    return std::nullopt;
  }
  static bool isServiceError(const Value& event) {
    return event.value("event", "") == "error" && event.value("message", "").starts_with("getService: ");
  }
};

TEST_F(ServeProcessTest, AnUnknownDomainEndsServeAtOnce) {
  const auto result = run({"serve", "nowhere"});
  EXPECT_EQ(result.object(), (Value{{"ok", false}, {"error", "no domain nowhere"}}));
  EXPECT_EQ(result.status, 1);
}

TEST_F(ServeProcessTest, ItKeepsTryingTheServiceAnswersMessagesAndEndsWhenInputEnds) {
  ASSERT_EQ(run({"register", "matters", "Matters", "https://ostrel.example/api"}).status, 0);
  auto child = start({"serve", "matters"});
  ASSERT_TRUE(child);

  // The status and the first failed attempt, in either order.
  std::vector<Value> seen;
  bool failedAttempt = false;
  bool reported = false;
  ASSERT_TRUE(readUntil(*child, seen, [&](const Value& event) {
    failedAttempt = failedAttempt || isServiceError(event);
    reported = reported || event == Value{{"event", "status"}, {"user_enabled", true}, {"disconnected", false}};
    return failedAttempt && reported;
  })) << ::testing::PrintToString(seen);

  // The desktop application's lines get their answers meanwhile.
  ASSERT_TRUE(child->writeInput("not json\n{\"type\":\"nonsense\"}\n{\"type\":\"status\"}\n"));
  const auto unknown = readUntil(*child, seen, [](const Value& event) { return !isServiceError(event); });
  ASSERT_TRUE(unknown);
  EXPECT_EQ(*unknown, (Value{{"event", "error"}, {"message", "unknown message"}}));
  const auto status = readUntil(*child, seen, [](const Value& event) { return event.value("event", "") == "status"; });
  EXPECT_EQ(status, (Value{{"event", "status"}, {"user_enabled", true}, {"disconnected", false}}));

  // The service is asked again after the back-off.
  const auto before = std::ranges::count_if(seen, isServiceError);
  ASSERT_TRUE(readUntil(*child, seen, isServiceError));
  EXPECT_EQ(std::ranges::count_if(seen, isServiceError), before + 1);

  // Input ends while a connection attempt waits for its back-off.
  child->closeInput();
  EXPECT_EQ(child->waitForExit(kWait), 0);

  for (const auto& event : seen) {
    EXPECT_NE(event.value("event", ""), "layout-reimport") << "register marked the new domain as imported";
  }
}

TEST_F(ServeProcessTest, AnOverlongInputLineIsDroppedWithAnErrorAndTheNextLineIsAnswered) {
  ASSERT_EQ(run({"register", "matters", "Matters", "https://ostrel.example/api"}).status, 0);
  auto child = start({"serve", "matters"});
  ASSERT_TRUE(child);

  // 5 MB that would be a valid message but for its length, then a message
  // whose answer shows that reading went on.
  const std::string padded = "{\"type\":\"status\",\"pad\":\"" + std::string(5 * 1024 * 1024, 'x') + "\"}\n";
  ASSERT_TRUE(child->writeInput(padded + "{\"type\":\"nonsense\"}\n"));

  std::vector<Value> seen;
  const auto isInputError = [](const Value& event) {
    return event.value("event", "") == "error" && !event.value("message", "").starts_with("getService: ");
  };
  const auto dropped = readUntil(*child, seen, isInputError);
  EXPECT_EQ(dropped, (Value{{"event", "error"}, {"message", "input line longer than 1048576 bytes dropped"}}))
      << ::testing::PrintToString(seen);
  const auto answered = readUntil(*child, seen, isInputError);
  EXPECT_EQ(answered, (Value{{"event", "error"}, {"message", "unknown message"}})) << ::testing::PrintToString(seen);

  child->closeInput();
  EXPECT_EQ(child->waitForExit(kWait), 0);
}

TEST_F(ServeProcessTest, ADomainRegisteredBeforeTheLayoutChangeIsReimportedAndStaysMarkedUntilItWorks) {
  ASSERT_EQ(run({"register", "old", "Old", "https://ostrel.example/api"}).status, 0);
  auto defaults = UserDefaults::suite(group());
  ASSERT_TRUE(defaults);
  ASSERT_TRUE(defaults->setInteger(0, layoutReimportKey("old")));

  auto child = start({"serve", "old"});
  ASSERT_TRUE(child);
  std::vector<Value> seen;
  const auto starting =
      readUntil(*child, seen, [](const Value& event) { return event.value("event", "") == "layout-reimport"; });
  EXPECT_EQ(starting, (Value{{"event", "layout-reimport"}, {"generation", driveLayoutReimportGeneration}}));
  // Without the daemon the re-import fails, and the next serve tries again.
  const auto failed = readUntil(*child, seen, [](const Value& event) {
    return event.value("message", "").starts_with("layout reimport: ") || event.value("event", "") == "layout-reimported";
  });
  ASSERT_TRUE(failed);
  EXPECT_EQ(failed->value("event", ""), "error");
  child->closeInput();
  EXPECT_EQ(child->waitForExit(kWait), 0);
  EXPECT_EQ(defaults->integerForKey(layoutReimportKey("old")), 0);
}

TEST_F(ServeProcessTest, ServeWithoutTheGroupEntitlementFails) {
  ASSERT_EQ(run({"register", "matters", "Matters", "https://ostrel.example/api"}).status, 0);
  const auto result = run({"serve", "matters"}, {{"OSTREL_ENTITLEMENTS_FILE", ""}});
  EXPECT_EQ(result.object(), (Value{{"ok", false}, {"error", "no com.apple.security.application-groups entitlement"}}));
  EXPECT_EQ(result.status, 1);
}

}  // namespace
}  // namespace ostrel::drive::helper::testing
