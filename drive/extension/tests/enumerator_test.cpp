// The enumerator against a recording server: exact requests, pages and anchors.
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "drive/extension/drive_enumerator.h"
#include "drive/extension/tests/extension_fixture.h"
#include "platform/fileprovider/testing/recording_observers.h"
#include "platform/foundation/testing/loopback_http_server.h"

namespace ostrel::drive::testing {
namespace {

using fileprovider::ItemIdentifier;
using fileprovider::Page;
using fileprovider::SyncAnchor;
using fileprovider::testing::RecordingChangeObserver;
using fileprovider::testing::RecordingEnumerationObserver;
using ostrel::testing::LoopbackHttpServer;

std::string item(const std::string& id, const std::string& kind = "file") {
  return R"({"identifier":")" + id + R"(","parent_identifier":"folder:9","kind":")" + kind +
         R"(","filename":")" + id + R"(.docx","content_version":"c","metadata_version":"m","capabilities":[]})";
}

class EnumeratorTest : public ExtensionFixture {
 protected:
  void SetUp() override {
    ExtensionFixture::SetUp();
    extension = makeExtension(server.base());
    extension->tokens()->store("test-token", clock.inSeconds(3600));
  }
  void TearDown() override {
    extension.reset();
    ExtensionFixture::TearDown();
  }
  std::shared_ptr<fileprovider::Enumerator> enumerator(const ItemIdentifier& container) {
    auto made = extension->enumeratorForContainer(container);
    EXPECT_TRUE(made);
    return made ? *made : nullptr;
  }
  std::vector<std::string> targets() {
    std::vector<std::string> out;
    for (const auto& r : server.requests()) out.push_back(r.target);
    return out;
  }

  LoopbackHttpServer server;
  std::unique_ptr<FileProviderExtension> extension;
};

TEST_F(EnumeratorTest, PageSizeFollowsTheSuggestionUpTo500) {
  server.fallback(LoopbackHttpServer::json(200, R"({"items":[]})"));
  const std::pair<std::optional<long>, std::string> cases[] = {
      {std::nullopt, "limit=200"}, {1000, "limit=500"}, {50, "limit=50"}, {500, "limit=500"}};
  for (const auto& [suggested, limit] : cases) {
    server.clearRequests();
    auto observer = std::make_shared<RecordingEnumerationObserver>(suggested);
    enumerator({"folder:9"})->enumerateItems(observer, fileprovider::initialPageSortedByName);
    ASSERT_TRUE(observer->wait());
    EXPECT_EQ(targets(), std::vector<std::string>{"/api/drive/containers/folder:9/items?" + limit});
  }
}

TEST_F(EnumeratorTest, PagesCarryTheCursorBytesAndRestartOnGarbage) {
  server.on("GET", "/api/drive/containers/root/items", [](const httplib::Request& request, httplib::Response& response) {
    const bool first = !request.has_param("page");
    response.set_content(first ? R"({"items":[)" + item("matter:1", "container") + R"(],"next_page":"c\u00e9/2"})"
                               : R"({"items":[)" + item("matter:2", "container") + R"(],"next_page":null})",
                         "application/json");
  });
  auto lister = enumerator(fileprovider::rootContainerItemIdentifier);

  auto first = std::make_shared<RecordingEnumerationObserver>();
  lister->enumerateItems(first, fileprovider::initialPageSortedByDate);
  ASSERT_TRUE(first->wait());
  ASSERT_EQ(first->items().size(), 1u);
  EXPECT_EQ(first->items()[0]->itemIdentifier().rawValue, "matter:1");
  ASSERT_TRUE(first->nextPage());
  EXPECT_EQ(first->nextPage()->bytes, "c\xC3\xA9/2");

  auto second = std::make_shared<RecordingEnumerationObserver>();
  lister->enumerateItems(second, *first->nextPage());
  ASSERT_TRUE(second->wait());
  EXPECT_EQ(second->items()[0]->itemIdentifier().rawValue, "matter:2");
  EXPECT_FALSE(second->nextPage());
  EXPECT_EQ(second->didEnumerateCalls(), 1);
  EXPECT_EQ(second->finishCalls(), 1);

  auto garbage = std::make_shared<RecordingEnumerationObserver>();
  lister->enumerateItems(garbage, Page{"\xC3\x28"});
  ASSERT_TRUE(garbage->wait());
  EXPECT_EQ(garbage->items()[0]->itemIdentifier().rawValue, "matter:1");
  EXPECT_EQ(targets(), (std::vector<std::string>{"/api/drive/containers/root/items?limit=200",
                                                 "/api/drive/containers/root/items?limit=200&page=c%C3%A9%2F2",
                                                 "/api/drive/containers/root/items?limit=200"}));
}

TEST_F(EnumeratorTest, ListingFailuresReachTheObserverUnchanged) {
  server.fallback(LoopbackHttpServer::json(404, ""));
  auto observer = std::make_shared<RecordingEnumerationObserver>();
  enumerator({"folder:9"})->enumerateItems(observer, fileprovider::initialPageSortedByName);
  ASSERT_TRUE(observer->wait());
  EXPECT_EQ(observer->error(), FileProviderError::nonExistentItem("folder:9"));
  EXPECT_EQ(observer->didEnumerateCalls(), 0);
}

TEST_F(EnumeratorTest, TheWorkingSetListsNothingAndOtherContainersHaveNoChanges) {
  auto set = std::make_shared<RecordingEnumerationObserver>();
  enumerator(fileprovider::workingSetItemIdentifier)->enumerateItems(set, fileprovider::initialPageSortedByName);
  EXPECT_EQ(set->finishCalls(), 1);  // at once, on this thread
  EXPECT_TRUE(set->items().empty());

  auto changes = std::make_shared<RecordingChangeObserver>();
  enumerator({"matter:1"})->enumerateChanges(changes, SyncAnchor{"\x01\x02 anchor"});
  EXPECT_EQ(changes->calls(), std::vector<std::string>{"finish"});
  EXPECT_EQ(changes->anchor(), SyncAnchor{"\x01\x02 anchor"});
  EXPECT_FALSE(changes->moreComing());
  EXPECT_TRUE(server.requests().empty());
}

TEST_F(EnumeratorTest, WorkingSetChangesComeInOrder) {
  struct Case {
    std::string body;
    std::vector<std::string> calls;
  };
  const Case cases[] = {
      {R"({"updated":[)" + item("ver:1") + R"(],"deleted":["doc:2","root"],"anchor":"a2","more":true})",
       {"update", "delete", "finish"}},
      {R"({"updated":[)" + item("ver:1") + R"(],"deleted":[],"anchor":"a2","more":false})", {"update", "finish"}},
      {R"({"updated":[],"deleted":["doc:2"],"anchor":"a2","more":false})", {"delete", "finish"}},
      {R"({"updated":[],"deleted":[],"anchor":"a2","more":false})", {"finish"}},
  };
  for (const auto& c : cases) {
    server.on("GET", "/api/drive/changes", LoopbackHttpServer::json(200, c.body));
    auto observer = std::make_shared<RecordingChangeObserver>(1000);
    enumerator(fileprovider::workingSetItemIdentifier)->enumerateChanges(observer, SyncAnchor{"a1"});
    ASSERT_TRUE(observer->wait());
    EXPECT_EQ(observer->calls(), c.calls) << c.body;
    EXPECT_EQ(observer->anchor(), SyncAnchor{"a2"});
  }
  auto seen = server.requests();
  EXPECT_EQ(seen.back().target, "/api/drive/changes?anchor=a1&limit=500");
  auto deletions = std::make_shared<RecordingChangeObserver>();
  server.on("GET", "/api/drive/changes", LoopbackHttpServer::json(200, cases[0].body));
  enumerator(fileprovider::workingSetItemIdentifier)->enumerateChanges(deletions, SyncAnchor{"a1"});
  ASSERT_TRUE(deletions->wait());
  EXPECT_EQ(deletions->deleted(),
            (std::vector<ItemIdentifier>{{"doc:2"}, fileprovider::rootContainerItemIdentifier}));
  EXPECT_TRUE(deletions->moreComing());
}

TEST_F(EnumeratorTest, ChangeFailures) {
  auto garbage = std::make_shared<RecordingChangeObserver>();
  enumerator(fileprovider::workingSetItemIdentifier)->enumerateChanges(garbage, SyncAnchor{"\xFF"});
  EXPECT_EQ(garbage->error(), FileProviderError::make(FileProviderError::syncAnchorExpired));
  EXPECT_TRUE(server.requests().empty());

  server.on("GET", "/api/drive/changes", LoopbackHttpServer::json(410, R"({"detail":{"code":"anchor_expired"}})"));
  auto expired = std::make_shared<RecordingChangeObserver>();
  enumerator(fileprovider::workingSetItemIdentifier)->enumerateChanges(expired, SyncAnchor{"old"});
  ASSERT_TRUE(expired->wait());
  EXPECT_EQ(expired->error(), FileProviderError::make(FileProviderError::syncAnchorExpired));
}

TEST_F(EnumeratorTest, CurrentAnchorOrNothingWithOneLogLine) {
  server.on("GET", "/api/drive/changes/head", LoopbackHttpServer::json(200, R"({"anchor":"h7"})"));
  std::promise<std::optional<SyncAnchor>> answered;
  enumerator({"folder:9"})->currentSyncAnchor([&](auto anchor) { answered.set_value(anchor); });
  EXPECT_EQ(answered.get_future().get(), SyncAnchor{"h7"});

  server.on("GET", "/api/drive/changes/head", LoopbackHttpServer::json(503, ""));
  logs.clear();
  std::promise<std::optional<SyncAnchor>> failed;
  enumerator(fileprovider::workingSetItemIdentifier)->currentSyncAnchor([&](auto anchor) { failed.set_value(anchor); });
  EXPECT_EQ(failed.get_future().get(), std::nullopt);
  auto errors = logs.messages(LogLevel::Error);
  ASSERT_EQ(errors.size(), 2u);  // the request layer's line, then ours
  EXPECT_EQ(errors[0], "GET changes status=503");
  EXPECT_TRUE(errors[1].starts_with("currentSyncAnchor: ")) << errors[1];
}

TEST_F(EnumeratorTest, InvalidateCancelsRequestsInFlight) {
  server.fallback([](const httplib::Request&, httplib::Response& response) {
    auto chunks = std::make_shared<int>(0);
    response.set_chunked_content_provider("application/json", [chunks](size_t, httplib::DataSink& sink) {
      if (++*chunks > 200) {
        sink.done();
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      return sink.write(" ", 1);
    });
  });
  auto lister = std::dynamic_pointer_cast<DriveEnumerator>(enumerator({"folder:9"}));
  ASSERT_TRUE(lister);
  std::vector<std::shared_ptr<RecordingEnumerationObserver>> observers;
  for (int i = 0; i < 3; ++i) {
    observers.push_back(std::make_shared<RecordingEnumerationObserver>());
    lister->enumerateItems(observers.back(), fileprovider::initialPageSortedByName);
  }
  EXPECT_EQ(lister->taskCount(), 3u);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  lister->invalidate();
  EXPECT_EQ(lister->taskCount(), 0u);
  for (auto& observer : observers) {
    ASSERT_TRUE(observer->wait());
    EXPECT_EQ(observer->error(), CocoaError::make(CocoaError::userCancelled));
  }
}

}  // namespace
}  // namespace ostrel::drive::testing
