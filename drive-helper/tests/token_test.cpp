#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "drive-helper/tests/helper_fixture.h"

namespace ostrel::drive::helper::testing {
namespace {

using json::Value;
using Answer = std::pair<std::string, double>;

// Tokens between the desktop application, the host and an attached extension.
class TokenTest : public HostTest {
 protected:
  void SetUp() override {
    attach();
    // Attaching offers the empty token; later pushes are what the tests look at.
    receivedThrough(updateTokenMessage("", 0));
    clearEvents();
  }
  double in(double seconds) const { return queue_->now() + seconds; }
  std::string tokenLine(const std::string& token, double expiresAt) const {
    return Value{{"type", "token"}, {"token", token}, {"expires_at", expiresAt}}.dump();
  }
  // Asks for a token as the extension does and runs the queue until the
  // request has been handled (answered, or printed as need_token).
  void request(Mailbox<Answer>& answers, size_t needTokensBefore) {
    extension_->requestToken();
    queue_->runUntil([&] { return answers.size() > 0 || events("need_token").size() > needTokensBefore; });
  }
  // A barrier: the extension has everything the host sent before this signal.
  std::vector<std::string> receivedBeforeSignal() {
    send(R"({"type":"signal"})");
    auto seen = receivedThrough("signal");
    seen.pop_back();
    return seen;
  }
};

TEST_F(TokenTest, TwoUsableTokensInARowArePushedButSignalOnlyOnce) {
  send(tokenLine("first", in(3600)));
  send(tokenLine("second", in(7200)));
  EXPECT_EQ(events("signalled").size(), 1u);
  EXPECT_EQ(manager_->signals().size(), 1u);
  EXPECT_EQ(receivedThrough(updateTokenMessage("second", in(7200))),
            (std::vector<std::string>{updateTokenMessage("first", in(3600)), "signal",
                                      updateTokenMessage("second", in(7200))}));
}

TEST_F(TokenTest, ATokenWithAMinuteOrLessLeftAnswersWaitingRequestsButIsNeitherPushedNorSignalled) {
  auto& answers = extension_->tokenAnswers();
  request(answers, 0);
  ASSERT_EQ(events("need_token").size(), 1u);
  EXPECT_EQ(answers.size(), 0u);

  send(tokenLine("short", in(60)));
  EXPECT_EQ(answers.take(), (Answer{"short", in(60)}));
  EXPECT_FALSE(sawEvent("signalled"));
  EXPECT_TRUE(manager_->signals().empty());
  EXPECT_EQ(receivedBeforeSignal(), std::vector<std::string>{});

  // It is not usable either: the next request waits again.
  request(answers, 1);
  EXPECT_EQ(events("need_token").size(), 2u);
}

TEST_F(TokenTest, TheEmptyTokenIsPushedSoThatTheExtensionDropsARevokedOne) {
  send(tokenLine("live", in(3600)));
  for (const char* revoke : {R"({"type":"token"})", R"({"type":"token","token":7,"expires_at":"soon"})"}) {
    SCOPED_TRACE(revoke);
    send(revoke);
    EXPECT_EQ(receivedThrough(updateTokenMessage("", 0)).back(), updateTokenMessage("", 0));
    EXPECT_TRUE(host().vendor().token().empty());
    EXPECT_EQ(host().vendor().expiresAt(), 0);
  }
  // A usable token after the revocation signals again.
  send(tokenLine("again", in(3600)));
  EXPECT_EQ(events("signalled").size(), 2u);
}

TEST_F(TokenTest, ARequestWithoutAUsableTokenIsAnsweredAfterFifteenSecondsWithWhatIsThere) {
  auto& answers = extension_->tokenAnswers();
  request(answers, 0);
  EXPECT_EQ(events(), (std::vector<Value>{{{"event", "need_token"}}}));
  queue_->advance(14.99);
  EXPECT_EQ(answers.size(), 0u);
  queue_->advance(0.01);
  EXPECT_EQ(answers.take(), (Answer{"", 0}));
}

TEST_F(TokenTest, EveryWaitingRequestHasItsOwnGraceAndIsAnsweredOnce) {
  auto& answers = extension_->tokenAnswers();
  request(answers, 0);
  queue_->advance(5);
  request(answers, 1);
  EXPECT_EQ(events("need_token").size(), 2u);

  // The first grace ends: both waiting requests get what there is.
  queue_->advance(10);
  EXPECT_EQ(answers.take(), (Answer{"", 0}));
  EXPECT_EQ(answers.take(), (Answer{"", 0}));

  // A third request is answered early by a token; its grace then finds nothing to do.
  request(answers, 2);
  send(tokenLine("fresh", in(3600)));
  EXPECT_EQ(answers.take(), (Answer{"fresh", in(3600)}));
  queue_->advance(15);
  EXPECT_FALSE(answers.take(std::chrono::milliseconds(100)));
}

TEST_F(TokenTest, AUsableTokenAnswersAtOnceUntilItNearsItsExpiry) {
  send(tokenLine("live", in(120)));
  auto& answers = extension_->tokenAnswers();
  request(answers, 0);
  EXPECT_EQ(answers.take(), (Answer{"live", in(120)}));
  EXPECT_FALSE(sawEvent("need_token"));

  // 60 s before expiry it is no longer handed out without asking the desktop application.
  queue_->advance(60);
  request(answers, 0);
  EXPECT_EQ(events("need_token").size(), 1u);
  queue_->advance(15);
  EXPECT_EQ(answers.take(), (Answer{"live", in(45)}));
}

TEST_F(TokenTest, AddressesTheExtensionHandsOverArePrinted) {
  extension_->openURL("https://ostrel.example/matters/7");
  ASSERT_TRUE(runUntilEvent("open-url"));
  EXPECT_EQ(events(), (std::vector<Value>{{{"event", "open-url"}, {"url", "https://ostrel.example/matters/7"}}}));
}

// XPC drops a second reply to one request, so only the vendor itself shows
// whether a request is answered twice.
TEST(TokenVendorTest, EachWaitingRequestIsAnsweredExactlyOnce) {
  auto queue = std::make_shared<ostrel::testing::ManualQueue>();
  std::vector<Value> events;
  auto vendor = std::make_shared<TokenVendor>(queue, [&](const Value& event) { events.push_back(event); });
  std::vector<Answer> answers;
  auto record = [&](const std::string& token, double expiresAt) { answers.emplace_back(token, expiresAt); };

  vendor->accessToken(record);
  queue->advance(5);
  vendor->accessToken(record);
  queue->advance(10);
  EXPECT_EQ(answers, (std::vector<Answer>{{"", 0}, {"", 0}}));

  vendor->store("late", queue->now() + 3600);
  vendor->answerPending();
  queue->advance(30);
  EXPECT_EQ(answers.size(), 2u);
  EXPECT_EQ(events, (std::vector<Value>{{{"event", "need_token"}}, {{"event", "need_token"}}}));
}

}  // namespace
}  // namespace ostrel::drive::helper::testing
