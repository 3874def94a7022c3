// The token broker and the host link, over real sockets.
#include <gtest/gtest.h>

#include <cmath>
#include <future>
#include <limits>
#include <thread>

#include "drive/extension/tests/extension_fixture.h"
#include "drive/extension/tests/fake_host.h"

namespace ostrel::drive::testing {
namespace {

using fileprovider::ItemIdentifier;

class HostLinkTest : public ExtensionFixture {
 protected:
  void SetUp() override {
    ExtensionFixture::SetUp();
    extension = makeExtension("http://127.0.0.1:9");
  }
  void TearDown() override {
    extension.reset();
    ExtensionFixture::TearDown();
  }

  std::shared_ptr<fileprovider::ServiceSource> source() {
    std::shared_ptr<fileprovider::ServiceSource> found;
    extension->supportedServiceSources(ItemIdentifier{"doc:1"}, [&](auto sources, auto error) {
      EXPECT_FALSE(error);
      EXPECT_EQ(sources.size(), 1u);
      if (!sources.empty()) found = sources.front();
    });
    return found;
  }
  // A host connected and attached, answering tokens that last an hour.
  std::unique_ptr<FakeHost> attachedHost() {
    auto host = FakeHost::connect(*source()->makeListenerEndpoint());
    host->answerTokensWith("fresh", clock.inSeconds(3600));
    EXPECT_EQ(host->attach(), "local.ostrel.desktop.drive");
    return host;
  }
  TokenBroker& broker() { return *extension->tokens(); }

  std::unique_ptr<FileProviderExtension> extension;
};

TEST_F(HostLinkTest, TheServiceSourceIsOneObjectWithOneEndpoint) {
  auto first = source();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->serviceName(), "local.ostrel.drive.host");
  EXPECT_EQ(source(), first);
  EXPECT_EQ(first->makeListenerEndpoint()->serialized(), first->makeListenerEndpoint()->serialized());
}

TEST_F(HostLinkTest, ConcurrentFirstRequestsMakeOneSource) {
  std::vector<std::future<std::shared_ptr<fileprovider::ServiceSource>>> found;
  for (int i = 0; i < 4; ++i) found.push_back(std::async(std::launch::async, [this] { return source(); }));
  auto first = found[0].get();
  for (size_t i = 1; i < found.size(); ++i) EXPECT_EQ(found[i].get(), first);
}

TEST_F(HostLinkTest, WithoutAHostThereIsNoToken) {
  auto token = broker().token({});
  ASSERT_FALSE(token);
  EXPECT_EQ(token.error(), FileProviderError::make(FileProviderError::notAuthenticated));
  EXPECT_EQ(logs.messages(LogLevel::Error), std::vector<std::string>{"no valid token and no host attached"});
}

TEST_F(HostLinkTest, CachedTokenIsUsedWhileMoreThan30SecondsRemain) {
  auto host = attachedHost();
  broker().store("cached", clock.inSeconds(31));
  EXPECT_EQ(broker().token({}), "cached");
  EXPECT_EQ(host->tokenRequests(), 0);

  broker().store("cached", clock.inSeconds(30));
  EXPECT_EQ(broker().token({}), "fresh");
  EXPECT_EQ(host->tokenRequests(), 1);
  EXPECT_EQ(broker().token({}), "fresh");  // now cached
  EXPECT_EQ(host->tokenRequests(), 1);

  broker().invalidate();
  EXPECT_EQ(broker().token({}), "fresh");
  EXPECT_EQ(host->tokenRequests(), 2);
}

TEST_F(HostLinkTest, ExpiriesNoTokenCanHaveCountAsExpired) {
  const double inf = std::numeric_limits<double>::infinity();
  auto host = attachedHost();
  int asked = 0;
  for (const double expiresAt : {-1e300, -1e17, -1.0, std::nan(""), -inf, inf, 1e308, 18446744073709551616.0}) {
    SCOPED_TRACE(expiresAt);
    broker().store("hostile", expiresAt);
    EXPECT_EQ(broker().token({}), "fresh");
    EXPECT_EQ(host->tokenRequests(), ++asked);
    broker().invalidate();
    // The same numbers in the host's answer make no usable token either (a
    // line on the wire is JSON, which holds no NaN nor infinity).
    if (!std::isfinite(expiresAt)) continue;
    host->answerTokensWith("hostile answer", expiresAt);
    auto answer = broker().token({});
    ASSERT_FALSE(answer);
    EXPECT_EQ(answer.error(), FileProviderError::make(FileProviderError::notAuthenticated));
    EXPECT_EQ(host->tokenRequests(), ++asked);
    host->answerTokensWith("fresh", clock.inSeconds(3600));
  }
  // An expiry in the year 9999 is still one.
  broker().store("long lived", 253402300000.0);
  EXPECT_EQ(broker().token({}), "long lived");
  EXPECT_EQ(host->tokenRequests(), asked);
}

TEST_F(HostLinkTest, UnusableAnswersAreNotAuthenticated) {
  auto host = attachedHost();
  for (auto [token, lifetime] : {std::pair{std::string(""), 3600.0}, std::pair{std::string("short"), 20.0}}) {
    host->answerTokensWith(token, clock.inSeconds(lifetime));
    logs.clear();
    auto answer = broker().token({});
    ASSERT_FALSE(answer) << token;
    EXPECT_EQ(answer.error(), FileProviderError::make(FileProviderError::notAuthenticated));
    EXPECT_EQ(logs.messages(LogLevel::Default),
              std::vector<std::string>{token.empty() ? "token cleared by host" : "token updated by host"});
  }
}

TEST_F(HostLinkTest, ABrokenConnectionEndsAWaitingRequest) {
  auto host = attachedHost();
  host->holdTokenRequests();
  auto waiting = std::async(std::launch::async, [this] { return broker().token({}); });
  for (int i = 0; i < 500 && host->tokenRequests() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  host->invalidate();
  auto answer = waiting.get();
  ASSERT_FALSE(answer);
  EXPECT_EQ(answer.error(), FileProviderError::make(FileProviderError::notAuthenticated));
  auto errors = logs.messages(LogLevel::Error);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_TRUE(errors[0].starts_with("host token request failed: ")) << errors[0];
}

TEST_F(HostLinkTest, CancellingTheTaskEndsAWaitingRequest) {
  auto host = attachedHost();
  host->holdTokenRequests();
  std::stop_source stop;
  auto waiting = std::async(std::launch::async, [&] { return broker().token(stop.get_token()); });
  for (int i = 0; i < 500 && host->tokenRequests() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  stop.request_stop();
  auto answer = waiting.get();
  ASSERT_FALSE(answer);
  EXPECT_EQ(answer.error(), CocoaError::make(CocoaError::userCancelled));
}

TEST_F(HostLinkTest, TokenUpdatesFromTheHostAreCached) {
  auto host = attachedHost();
  host->updateToken("pushed", clock.inSeconds(600));
  // One-way: wait for the store's log line.
  auto stored = [&] {
    auto lines = logs.messages(LogLevel::Default);
    return std::find(lines.begin(), lines.end(), "token updated by host") != lines.end();
  };
  for (int i = 0; i < 500 && !stored(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(broker().token({}), "pushed");
  EXPECT_EQ(host->tokenRequests(), 0);
}

TEST_F(HostLinkTest, ASecondHostReplacesTheFirst) {
  auto first = attachedHost();
  auto second = attachedHost();
  EXPECT_TRUE(first->waitUntilInvalidated());
  second->answerTokensWith("second", clock.inSeconds(3600));
  EXPECT_EQ(broker().token({}), "second");
  EXPECT_EQ(first->tokenRequests(), 0);
  auto detached = [&] {
    auto lines = logs.messages(LogLevel::Default);
    return std::count(lines.begin(), lines.end(), "host detached");
  };
  for (int i = 0; i < 500 && detached() < 1; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(detached(), 1);
  broker().invalidate();
  EXPECT_EQ(broker().token({}), "second");  // still attached to the second host
}

TEST_F(HostLinkTest, OpenURLGoesToTheHostOrIsLogged) {
  broker().openURL("https://app/x");
  EXPECT_EQ(logs.messages(LogLevel::Error), std::vector<std::string>{"openURL with no host attached"});
  auto host = attachedHost();
  broker().openURL("https://app/items/doc:1");
  ASSERT_TRUE(host->waitForOpenedURLs(1));
  EXPECT_EQ(host->openedURLs(), std::vector<std::string>{"https://app/items/doc:1"});
}

TEST_F(HostLinkTest, SignalReachesTheWorkingSetThenRecentContainersOldestFirst) {
  for (const char* folder : {"folder:1", "folder:2", "folder:3"}) {
    ASSERT_TRUE(extension->enumeratorForContainer(ItemIdentifier{folder}));
  }
  auto host = attachedHost();
  host->signalChangedEnumerators();
  for (int i = 0; i < 500 && manager->signals().size() < 4; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(manager->signals(), (std::vector<ItemIdentifier>{fileprovider::workingSetItemIdentifier, {"folder:1"},
                                                             {"folder:2"}, {"folder:3"}}));
}

TEST_F(HostLinkTest, AnUnconfiguredExtensionStillTakesAHostAndTokens) {
  extension = makeUnconfigured();
  auto host = attachedHost();
  EXPECT_EQ(broker().token({}), "fresh");
}

}  // namespace
}  // namespace ostrel::drive::testing
