#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>

#include "drive-helper/tests/helper_fixture.h"
#include "drive/shared/drive_domain_config.h"
#include "drive/shared/host_link.h"

namespace ostrel::drive::helper::testing {
namespace {

using fileprovider::Domain;
using json::Value;

// --- connecting ------------------------------------------------------------

class ConnectTest : public HostTest {
 protected:
  size_t attempts() const { return manager_->serviceRequests().size(); }
  std::vector<std::string> errorMessages() const {
    std::vector<std::string> messages;
    for (const auto& event : events("error")) messages.push_back(event.at("message"));
    return messages;
  }
  // Moves the clock through `delay` and checks that the next attempt comes
  // exactly then, not a moment earlier.
  void expectNextAttemptAfter(double delay) {
    const size_t before = attempts();
    queue_->advance(delay - 0.01);
    EXPECT_EQ(attempts(), before) << "attempt before " << delay << " s";
    queue_->advance(0.01);
    EXPECT_EQ(attempts(), before + 1) << "no attempt after " << delay << " s";
  }
};

TEST_F(ConnectTest, FailedServiceRequestsBackOffDoublingToAMinuteAndAnAttachResetsIt) {
  manager_->answerServiceWith(nullptr, describedError("the file provider daemon is not running"));
  host(false).connect();
  queue_->runReady();
  ASSERT_EQ(attempts(), 1u);
  EXPECT_EQ(manager_->serviceRequests()[0].name, driveServiceName);
  EXPECT_EQ(manager_->serviceRequests()[0].item, fileprovider::rootContainerItemIdentifier);

  for (double delay : {2.0, 4.0, 8.0, 16.0, 32.0, 60.0, 60.0}) expectNextAttemptAfter(delay);
  const auto messages = errorMessages();
  EXPECT_EQ(messages.size(), 8u);
  for (const auto& message : messages) EXPECT_EQ(message, "getService: the file provider daemon is not running");

  // The extension appears; the next attempt attaches.
  extension_ = FakeExtension::create();
  ASSERT_TRUE(extension_);
  manager_->answerServiceWith(std::make_shared<EndpointService>(extension_->endpoint()));
  queue_->advance(60);
  ASSERT_TRUE(runUntilEvent("attached"));
  EXPECT_TRUE(host().connected());

  // It goes away; the host notices, and starts again from 2 s.
  manager_->answerServiceWith(nullptr, describedError("the file provider daemon is not running"));
  extension_->dropConnections();
  ASSERT_TRUE(runUntilEvent("detached"));
  EXPECT_FALSE(host().connected());
  const size_t errorsBefore = errorMessages().size();
  expectNextAttemptAfter(2.0);
  EXPECT_EQ(errorMessages().size(), errorsBefore + 1) << "a detach itself is not an error";
  expectNextAttemptAfter(4.0);
}

TEST_F(ConnectTest, EachWayOfNotGettingAConnectionIsReportedAndRetried) {
  struct Case {
    std::shared_ptr<fileprovider::Service> service;
    std::optional<Error> error;
    std::string message;
  };
  const std::vector<Case> cases{
      {nullptr, describedError("no extension for the domain"), "getService: no extension for the domain"},
      {nullptr, std::nullopt, "getService: no service"},
      {std::make_shared<BrokenService>(describedError("the listener is gone")), std::nullopt,
       "connection: the listener is gone"},
      {std::make_shared<BrokenService>(std::nullopt), std::nullopt, "connection: none"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    host_.reset();
    clearEvents();
    manager_->answerServiceWith(c.service, c.error);
    host(false).connect();
    queue_->runReady();
    ASSERT_EQ(events().size(), 1u);
    EXPECT_EQ(events()[0], (Value{{"event", "error"}, {"message", c.message}}));
    EXPECT_NEAR(queue_->nextDueIn(), 2.0, 1e-9);
    EXPECT_FALSE(host().connected());
  }
}

TEST_F(ConnectTest, AttachingOffersTheExtensionTheEmptyTokenAndAReplacedConnectionEndsQuietly) {
  attach();
  EXPECT_EQ(receivedThrough(updateTokenMessage("", 0)), (std::vector<std::string>{"attach", updateTokenMessage("", 0)}));

  // A second connect replaces the first; the end of the old one is no detach.
  host().connect();
  ASSERT_TRUE(runUntilEvent("attached", 2));
  EXPECT_EQ(extension_->connectionsAccepted(), 2u);
  send(R"({"type":"signal"})");
  queue_->runUntil([] { return false; }, std::chrono::milliseconds(100));
  EXPECT_FALSE(sawEvent("detached"));
  EXPECT_TRUE(host().connected());
}

// --- the desktop application's messages ------------------------------------

TEST_F(HostTest, MessagesWithoutAKnownTypeAreAnsweredWithAnError) {
  for (const char* line : {R"({"type":"bogus"})", R"({})", R"({"type":5})", R"({"type":null,"token":"t"})",
                           R"({"type":"Token","token":"t"})"}) {
    SCOPED_TRACE(line);
    clearEvents();
    send(line);
    EXPECT_EQ(events(), (std::vector<Value>{{{"event", "error"}, {"message", "unknown message"}}}));
  }
  EXPECT_TRUE(manager_->signals().empty());
  EXPECT_TRUE(host().vendor().token().empty());
}

TEST_F(HostTest, StatusReportsTheServedDomainOnlyWhileTheSystemListsIt) {
  struct Case {
    std::vector<Domain> domains;
    std::vector<Value> expected;
  };
  const std::vector<Case> cases{
      {{{.identifier = "other"}, {.identifier = domainID, .userEnabled = false, .disconnected = true}},
       {{{"event", "status"}, {"user_enabled", false}, {"disconnected", true}}}},
      {{{.identifier = domainID}}, {{{"event", "status"}, {"user_enabled", true}, {"disconnected", false}}}},
      {{{.identifier = "matters2"}, {.identifier = "Matters"}}, {}},  // removed meanwhile
      {{}, {}},
  };
  for (const auto& c : cases) {
    clearEvents();
    setDomains(c.domains);
    send(R"({"type":"status"})");
    EXPECT_EQ(events(), c.expected);
  }
}

TEST_F(HostTest, DisconnectAndReconnectReachTheManagerThenReportStatus) {
  struct Case {
    std::string line;
    std::optional<Error> failure;
    std::vector<Value> expected;
  };
  const Value status{{"event", "status"}, {"user_enabled", true}, {"disconnected", false}};
  const std::vector<Case> cases{
      {R"({"type":"disconnect"})", std::nullopt, {status}},
      {R"({"type":"disconnect","reason":"Signed out of Ostrel"})", std::nullopt, {status}},
      {R"({"type":"disconnect","reason":7})", describedError("not now"),
       {{{"event", "error"}, {"message", "disconnect: not now"}}, status}},
      {R"({"type":"reconnect"})", std::nullopt, {status}},
      {R"({"type":"reconnect"})", describedError("still signed out"),
       {{{"event", "error"}, {"message", "reconnect: still signed out"}}, status}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    clearEvents();
    manager_->failDisconnectsWith(c.failure);
    manager_->failReconnectsWith(c.failure);
    send(c.line);
    EXPECT_EQ(events(), c.expected);
  }
  const auto disconnects = manager_->disconnects();
  ASSERT_EQ(disconnects.size(), 3u);
  EXPECT_EQ(disconnects[0].reason, "");
  EXPECT_EQ(disconnects[1].reason, "Signed out of Ostrel");
  EXPECT_EQ(disconnects[2].reason, "");
  for (const auto& request : disconnects) EXPECT_EQ(request.options, 0u);
  EXPECT_EQ(manager_->reconnects(), 2u);
}

TEST_F(HostTest, SignalAsksTheSystemAndTheExtensionAndReportsAFailedSignal) {
  attach();
  send(R"({"type":"signal"})");
  EXPECT_EQ(receivedThrough("signal").back(), "signal");
  EXPECT_EQ(manager_->signals(), std::vector{fileprovider::workingSetItemIdentifier});
  EXPECT_EQ(events("signalled").size(), 1u);
  EXPECT_FALSE(sawEvent("error"));

  manager_->failSignalsWith(describedError("the domain is disabled"));
  send(R"({"type":"signal"})");
  EXPECT_EQ(events("signalled").size(), 2u);
  EXPECT_EQ(events("error"), (std::vector<Value>{{{"event", "error"}, {"message", "signal: the domain is disabled"}}}));
  EXPECT_EQ(receivedThrough("signal").back(), "signal");
}

// --- the layout re-import ----------------------------------------------------

TEST_F(HostTest, TheTreeIsReimportedOncePerLayoutGeneration) {
  const std::string key = layoutReimportKey(domainID);
  struct Case {
    std::optional<int64_t> stored;
    std::optional<Error> failure;
    std::vector<Value> expected;
    int64_t storedAfter;
  };
  const Value starting{{"event", "layout-reimport"}, {"generation", driveLayoutReimportGeneration}};
  const std::vector<Case> cases{
      {std::nullopt, std::nullopt, {starting, {{"event", "layout-reimported"}}}, driveLayoutReimportGeneration},
      {0, std::nullopt, {starting, {{"event", "layout-reimported"}}}, driveLayoutReimportGeneration},
      {0, describedError("the domain is busy"),
       {starting, {{"event", "error"}, {"message", "layout reimport: the domain is busy"}}}, 0},
      {driveLayoutReimportGeneration, std::nullopt, {}, driveLayoutReimportGeneration},
      {driveLayoutReimportGeneration + 1, std::nullopt, {}, driveLayoutReimportGeneration + 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stored ? std::to_string(*c.stored) : "no key");
    auto defaults = UserDefaults::suite("GROUP.local.ostrel.desktop");
    ASSERT_TRUE(defaults);
    std::filesystem::remove(defaults->file());
    if (c.stored) {
      ASSERT_TRUE(defaults->setInteger(*c.stored, key));
    }
    ASSERT_TRUE(defaults->setInteger(3, "another.key"));
    manager_->failReimportsWith(c.failure);
    const size_t reimportsBefore = manager_->reimports().size();
    host_.reset();
    clearEvents();

    host().reimportIfLayoutChanged();
    queue_->runReady();
    EXPECT_EQ(events(), c.expected);
    EXPECT_EQ(manager_->reimports().size() - reimportsBefore, c.expected.empty() ? 0u : 1u);
    EXPECT_EQ(defaults->integerForKey(key), c.storedAfter);
    EXPECT_EQ(defaults->integerForKey("another.key"), 3);
  }
  EXPECT_EQ(manager_->reimports().front(), fileprovider::rootContainerItemIdentifier);

  // After a successful re-import the next serve does not do it again.
  manager_->failReimportsWith(std::nullopt);
  std::filesystem::remove(UserDefaults::suite("GROUP.local.ostrel.desktop")->file());
  for (int serve = 0; serve < 2; ++serve) {
    host_.reset();
    host().reimportIfLayoutChanged();
    queue_->runReady();
  }
  EXPECT_EQ(events("layout-reimport").size(), 1u);
}

TEST_F(HostTest, WithoutASuiteTheGenerationCountsAsZeroAndIsNotWritten) {
  host(/*withDefaults=*/false).reimportIfLayoutChanged();
  queue_->runReady();
  EXPECT_EQ(events("layout-reimported").size(), 1u);
  host_.reset();
  host(false).reimportIfLayoutChanged();
  queue_->runReady();
  EXPECT_EQ(events("layout-reimported").size(), 2u);
}

TEST_F(HostTest, StartReportsStatusConnectsAndReimports) {
  host(false).start();
  queue_->runReady();
  std::vector<std::string> names;
  for (const auto& event : events()) {
    names.push_back(event.at("event"));
  }
  std::ranges::sort(names);
  EXPECT_EQ(names, (std::vector<std::string>{"error", "layout-reimport", "layout-reimported", "status"}));
  EXPECT_EQ(manager_->serviceRequests().size(), 1u);
}

}  // namespace
}  // namespace ostrel::drive::helper::testing
