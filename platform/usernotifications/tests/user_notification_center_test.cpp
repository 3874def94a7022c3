#include <cstdlib>
#include <functional>

#include <asio/io_context.hpp>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "platform/usernotifications/testing/session_bus.h"
#include "platform/usernotifications/user_notifications.h"

namespace ostrel {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;

class RecordingDelegate : public UserNotificationCenterDelegate {
 public:
  void didReceiveNotificationResponse(const NotificationResponse& response, std::function<void()> done) override {
    responses.push_back(response);
    done();
  }
  std::vector<NotificationResponse> responses;
};

class CenterTest : public testing::NotificationBusTest {
 protected:
  // Runs the main queue until `condition` holds; false when it never did.
  bool runUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 15s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      queue.restart();
      queue.run_one_for(20ms);
    }
    return true;
  }

  // Posts one notification and waits for the add to complete.
  void post(UserNotificationCenter& center, NotificationContent content, std::string identifier = "request-1") {
    bool added = false;
    center.add({std::move(identifier), std::move(content)}, [&](std::optional<Error> error) {
      EXPECT_FALSE(error) << error->localizedDescription();
      added = true;
    });
    ASSERT_TRUE(runUntil([&] { return added; }));
  }

  asio::io_context queue;
};

class CenterWithoutServerTest : public CenterTest {
 protected:
  bool wantsServer() const override { return false; }
};

TEST_F(CenterTest, AuthorizationIsGrantedWhileAServerAnswers) {
  UserNotificationCenter center(queue);
  std::optional<bool> granted;
  center.requestAuthorization(authorizationOptionAlert | authorizationOptionSound,
                              [&](bool answer, std::optional<Error> error) {
                                granted = answer;
                                EXPECT_FALSE(error);
                              });
  ASSERT_TRUE(runUntil([&] { return granted.has_value(); }));
  EXPECT_TRUE(*granted);
}

TEST_F(CenterWithoutServerTest, AuthorizationIsDeniedAndAddFailsWithoutAServer) {
  UserNotificationCenter center(queue);
  std::optional<Error> denial;
  bool answered = false;
  center.requestAuthorization(authorizationOptionAlert, [&](bool granted, std::optional<Error> error) {
    EXPECT_FALSE(granted);
    denial = error;
    answered = true;
  });
  ASSERT_TRUE(runUntil([&] { return answered; }));
  ASSERT_TRUE(denial);
  EXPECT_TRUE(denial->is(UserNotificationsError::domain, UserNotificationsError::notificationsNotAllowed));

  std::optional<Error> addError;
  bool added = false;
  center.add({"r", {.title = "t", .body = "b"}}, [&](std::optional<Error> error) {
    addError = error;
    added = true;
  });
  ASSERT_TRUE(runUntil([&] { return added; }));
  EXPECT_TRUE(addError);
}

TEST_F(CenterWithoutServerTest, AuthorizationIsDeniedWithoutASessionBus) {
  ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus", 1);
  ::setenv("XDG_RUNTIME_DIR", "/nonexistent", 1);
  UserNotificationCenter center(queue);
  std::optional<bool> granted;
  center.requestAuthorization(authorizationOptionAlert, [&](bool answer, std::optional<Error>) { granted = answer; });
  ASSERT_TRUE(runUntil([&] { return granted.has_value(); }));
  EXPECT_FALSE(*granted);
}

TEST_F(CenterTest, PostCarriesTitleBodyUrgencyAndSound) {
  struct Case {
    InterruptionLevel level;
    bool sound;
    int urgency;
  };
  const std::vector<Case> cases = {
      {InterruptionLevel::passive, false, 0},
      {InterruptionLevel::active, true, 1},
      {InterruptionLevel::timeSensitive, true, 2},
      {InterruptionLevel::critical, false, 2},
  };
  UserNotificationCenter center(queue);
  for (const auto& c : cases) {
    post(center, {.title = "Draft saved",
                  .body = "Brief \"v2\" ready",
                  .sound = c.sound ? std::optional(NotificationSound::defaultSound) : std::nullopt,
                  .interruptionLevel = c.level});
  }
  const auto calls = server->waitForNotifyCalls(cases.size(), 10s);
  ASSERT_EQ(calls.size(), cases.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    const auto& call = calls[i];
    EXPECT_EQ(call["summary"], "Draft saved");
    EXPECT_EQ(call["body"], "Brief \"v2\" ready");
    EXPECT_EQ(call["hints"]["urgency"], cases[i].urgency);
    EXPECT_EQ(call["hints"].contains("sound-name"), cases[i].sound);
    if (cases[i].sound) {
      EXPECT_EQ(call["hints"]["sound-name"], "message-new-instant");
    }
    // Clicking the notification itself is the "default" action.
    ASSERT_TRUE(call["actions"].is_array());
    ASSERT_GE(call["actions"].size(), 2u);
    EXPECT_EQ(call["actions"][0], "default");
  }
}

TEST_F(CenterTest, ClickReachesTheDelegateWithTheNotificationsUserInfo) {
  UserNotificationCenter center(queue);
  auto delegate = std::make_shared<RecordingDelegate>();
  center.setDelegate(delegate);
  post(center, {.title = "a", .body = "b", .userInfo = {{"to", "matter 7"}}}, "first");
  post(center, {.title = "c", .body = "d"}, "second");
  ASSERT_EQ(server->waitForNotifyCalls(2, 10s).size(), 2u);

  // dbusmock numbers notifications from 1 in posting order.
  server->click(2, "default");
  server->click(1, "default");
  ASSERT_TRUE(runUntil([&] { return delegate->responses.size() == 2; }));
  EXPECT_EQ(delegate->responses[0].requestIdentifier, "second");
  EXPECT_TRUE(delegate->responses[0].userInfo.empty());
  EXPECT_EQ(delegate->responses[1].requestIdentifier, "first");
  EXPECT_EQ(delegate->responses[1].actionIdentifier, defaultActionIdentifier);
  EXPECT_EQ(delegate->responses[1].userInfo, (NotificationUserInfo{{"to", "matter 7"}}));
}

TEST_F(CenterTest, ClicksOnOtherNotificationsAndRepeatedClicksAreIgnored) {
  UserNotificationCenter center(queue);
  auto delegate = std::make_shared<RecordingDelegate>();
  center.setDelegate(delegate);
  post(center, {.title = "a", .body = "b"});
  server->click(99);  // another program's notification
  server->click(1);
  server->click(1);
  ASSERT_TRUE(runUntil([&] { return !delegate->responses.empty(); }));
  EXPECT_FALSE(runUntil([&] { return delegate->responses.size() > 1; }, 1s));
}

TEST_F(CenterTest, GoneDelegateReceivesNothing) {
  UserNotificationCenter center(queue);
  auto delegate = std::make_shared<RecordingDelegate>();
  center.setDelegate(delegate);
  delegate.reset();
  post(center, {.title = "a", .body = "b"});
  server->click(1);
  // Nothing to observe but that nothing breaks: the click is dropped.
  EXPECT_FALSE(runUntil([] { return false; }, 500ms));
}

TEST_F(CenterTest, NoResponseCanArriveOnceTheNotificationIsClosedUnanswered) {
  UserNotificationCenter center(queue);
  post(center, {.title = "a", .body = "b"});
  bool settled = false;
  center.whenNoResponseCanArrive([&] { settled = true; });
  EXPECT_FALSE(runUntil([&] { return settled; }, 300ms));
  server->close(1, 2);
  EXPECT_TRUE(runUntil([&] { return settled; }));
}

TEST_F(CenterTest, AnsweredNotificationDoesNotSettle) {
  UserNotificationCenter center(queue);
  auto delegate = std::make_shared<RecordingDelegate>();
  center.setDelegate(delegate);
  post(center, {.title = "a", .body = "b"});
  bool settled = false;
  center.whenNoResponseCanArrive([&] { settled = true; });
  server->click(1);
  server->close(1, 2);  // servers close a notification after its click
  ASSERT_TRUE(runUntil([&] { return !delegate->responses.empty(); }));
  EXPECT_FALSE(runUntil([&] { return settled; }, 500ms));
}

TEST_F(CenterTest, NothingShownSettlesAtOnce) {
  UserNotificationCenter center(queue);
  bool settled = false;
  center.whenNoResponseCanArrive([&] { settled = true; });
  EXPECT_TRUE(runUntil([&] { return settled; }, 2s));
}

TEST_F(CenterTest, WindowPassingWithdrawsTheNotificationAndSettles) {
  ::setenv("OSTREL_TEST_HOOK_NOTIFICATION_RESPONSE_WINDOW_MS", "300", 1);
  UserNotificationCenter center(queue);
  post(center, {.title = "a", .body = "b"});
  bool settled = false;
  center.whenNoResponseCanArrive([&] { settled = true; });
  EXPECT_TRUE(runUntil([&] { return settled; }));
  ::unsetenv("OSTREL_TEST_HOOK_NOTIFICATION_RESPONSE_WINDOW_MS");
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  std::vector<uint32_t> closed;
  while ((closed = server->closeRequests()).empty() && std::chrono::steady_clock::now() < deadline) {
    queue.restart();
    queue.run_for(50ms);
  }
  EXPECT_THAT(closed, ElementsAre(1u));
}

}  // namespace
}  // namespace ostrel
