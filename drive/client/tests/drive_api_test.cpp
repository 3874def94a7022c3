#include "drive/client/drive_api.h"
#include "drive/client/service_errors.h"

#include <gtest/gtest.h>

#include <mutex>
#include <thread>

#include "drive/client/tests/counting_tokens.h"
#include "platform/foundation/testing/log_capture.h"
#include "platform/foundation/testing/loopback_http_server.h"

namespace ostrel::drive {
namespace {

using testing::LogCapture;
using testing::LoopbackHttpServer;

constexpr const char* itemBody =
    R"({"identifier":"doc:1","parent_identifier":"folder:9","kind":"container","filename":"Brief",
        "content_version":"c1","metadata_version":"m1","capabilities":["rename"]})";

class DriveAPITest : public ::testing::Test {
 protected:
  DriveAPI api() { return DriveAPI(*URL::parse(server.base()), tokens); }

  LoopbackHttpServer server;
  std::shared_ptr<CountingTokens> tokens = std::make_shared<CountingTokens>();
  LogCapture logs;
};

bool isFileProviderError(const Error& error, long code) {
  return error.domain == FileProviderError::domain && error.code == code;
}

TEST_F(DriveAPITest, RetriesOnceWithAFreshTokenAfter401) {
  server.on("GET", "/api/drive/items/doc:1",
            LoopbackHttpServer::sequence({LoopbackHttpServer::json(401, ""), LoopbackHttpServer::json(200, itemBody)}));
  auto item = api().item("doc:1", {});
  ASSERT_TRUE(item) << item.error().localizedDescription();
  EXPECT_EQ(item->identifier, "doc:1");
  EXPECT_EQ(tokens->requests(), 2);
  EXPECT_EQ(tokens->invalidations(), 1);
  auto seen = server.requests();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].header("Authorization"), "Bearer t1");
  EXPECT_EQ(seen[1].header("Authorization"), "Bearer t2");
  EXPECT_EQ(seen[1].header("Accept"), "application/json");
  EXPECT_TRUE(logs.records().empty());
}

TEST_F(DriveAPITest, TwoRejectionsAreNotAuthenticatedAndLoggedOnce) {
  server.on("GET", "/api/drive/items/doc:1", LoopbackHttpServer::json(401, ""));
  auto item = api().item("doc:1", {});
  ASSERT_FALSE(item);
  EXPECT_TRUE(isFileProviderError(item.error(), -1000));
  EXPECT_EQ(tokens->invalidations(), 1);
  EXPECT_EQ(server.requests().size(), 2u);
  EXPECT_EQ(logs.messages(LogLevel::Error), std::vector<std::string>{"GET items status=401"});
}

TEST_F(DriveAPITest, TokenSourceFailurePassesThroughUnsent) {
  tokens->failWith(FileProviderError::make(FileProviderError::notAuthenticated));
  auto item = api().item("doc:1", {});
  ASSERT_FALSE(item);
  EXPECT_EQ(item.error(), FileProviderError::make(FileProviderError::notAuthenticated));
  EXPECT_TRUE(server.requests().empty());
}

TEST_F(DriveAPITest, StatusesWithoutRefusals) {
  struct Case {
    int status;
    std::string body;
    bool withIdentifier;
    Error expected;
  };
  const Case cases[] = {
      {404, R"({"detail":{"code":"drive_disabled"}})", true, FileProviderError::make(FileProviderError::cannotSynchronize)},
      {404, R"({"detail":{"code":"gone"}})", true, FileProviderError::nonExistentItem("doc:1")},
      {404, "", false, FileProviderError::make(FileProviderError::noSuchItem)},
      {403, "", true, FileProviderError::nonExistentItem("doc:1")},
      {403, R"({"detail":{"code":"drive_disabled"}})", false, FileProviderError::make(FileProviderError::noSuchItem)},
      {410, "", false, FileProviderError::make(FileProviderError::syncAnchorExpired)},
      {500, "", true, FileProviderError::make(FileProviderError::serverUnreachable)},
      {409, R"({"detail":{"code":"x"}})", true, FileProviderError::make(FileProviderError::serverUnreachable)},
      {302, "", false, FileProviderError::make(FileProviderError::serverUnreachable)},
  };
  for (const auto& c : cases) {
    server.on("GET", "/api/drive/items/doc:1", LoopbackHttpServer::json(c.status, c.body));
    server.on("GET", "/api/drive/changes/head", LoopbackHttpServer::json(c.status, c.body));
    logs.clear();
    std::optional<Error> error;
    if (c.withIdentifier) {
      if (auto item = api().item("doc:1", {}); !item) error = item.error();
    } else {
      if (auto anchor = api().head({}); !anchor) error = anchor.error();
    }
    ASSERT_TRUE(error) << c.status;
    EXPECT_EQ(*error, c.expected) << c.status << " " << c.body;
    const std::string segment = c.withIdentifier ? "items" : "changes";
    EXPECT_EQ(logs.messages(LogLevel::Error),
              std::vector<std::string>{"GET " + segment + " status=" + std::to_string(c.status)});
  }
}

TEST_F(DriveAPITest, RootIdentifierIsReportedAsTheRootContainer) {
  server.on("GET", "/api/drive/items/root", LoopbackHttpServer::json(404, ""));
  auto item = api().item("root", {});
  ASSERT_FALSE(item);
  EXPECT_EQ(item.error(), FileProviderError::nonExistentItem("NSFileProviderRootContainerItemIdentifier"));
}

TEST_F(DriveAPITest, StatusesWithRefusals) {
  struct Case {
    int status;
    std::string body;
    Error expected;
  };
  const Case cases[] = {
      {409, R"({"detail":{"code":"name_conflict"}})", DriveRefusal{409, "name_conflict"}.asError()},
      {409, "", DriveRefusal{409, std::nullopt}.asError()},
      {403, R"({"detail":"Forbidden"})", DriveRefusal{403, std::nullopt}.asError()},
      {500, "not json", DriveRefusal{500, std::nullopt}.asError()},
      {404, R"({"detail":{"code":"drive_disabled"}})", FileProviderError::make(FileProviderError::cannotSynchronize)},
      {404, R"({"detail":{"code":"name_conflict"}})", FileProviderError::nonExistentItem("doc:1")},
  };
  for (const auto& c : cases) {
    server.on("DELETE", "/api/drive/items/doc:1", LoopbackHttpServer::json(c.status, c.body));
    auto result = api().deleteItem("doc:1", {});
    ASSERT_FALSE(result) << c.status;
    EXPECT_EQ(result.error(), c.expected) << c.status << " " << c.body;
  }
  auto refusal = DriveRefusal::from(DriveRefusal{409, "x"}.asError());
  ASSERT_TRUE(refusal);
  EXPECT_EQ(*refusal, (DriveRefusal{409, "x"}));
  EXPECT_EQ((DriveRefusal{409, "x"}).asError().localizedDescription(), "Ostrel refused the change (x)");
  EXPECT_EQ((DriveRefusal{409, std::nullopt}).asError().localizedDescription(), "Ostrel refused the change (409)");
  EXPECT_FALSE(DriveRefusal::from(FileProviderError::make(FileProviderError::noSuchItem)));
}

TEST_F(DriveAPITest, DeleteSucceedsOn204WithoutReadingTheBody) {
  server.on("DELETE", "/api/drive/items/doc:1", LoopbackHttpServer::json(204, ""));
  EXPECT_TRUE(api().deleteItem("doc:1", {}));
  auto seen = server.requests();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].body, "");
  EXPECT_EQ(seen[0].header("Content-Type"), "");
}

TEST_F(DriveAPITest, UndecodableSuccessIsServerUnreachableWithAFault) {
  const std::string bodies[] = {
      R"({"identifier":"doc:1","kind":"file","filename":"a","content_version":"c","metadata_version":"m","capabilities":[]})",
      "not json at all",
      "{\"identifier\":\"doc:\xff\"}",
      "",
      R"({"identifier":"doc:1","parent_identifier":"root","kind":"file","filename":"a","content_version":"c",
          "metadata_version":"m","capabilities":[],"created_at":"2024-03-01"})",
  };
  for (const auto& body : bodies) {
    server.on("GET", "/api/drive/items/doc:1", LoopbackHttpServer::json(200, body));
    logs.clear();
    auto item = api().item("doc:1", {});
    ASSERT_FALSE(item) << body;
    EXPECT_TRUE(isFileProviderError(item.error(), -1004)) << body;
    auto faults = logs.messages(LogLevel::Fault);
    ASSERT_EQ(faults.size(), 1u) << body;
    EXPECT_TRUE(faults[0].starts_with("undecodable items: ")) << faults[0];
  }
  EXPECT_NE(logs.messages(LogLevel::Fault)[0].find("bad date 2024-03-01"), std::string::npos);
}

TEST_F(DriveAPITest, OversizedBodyIsServerUnreachable) {
  server.on("GET", "/api/drive/items/doc:1", LoopbackHttpServer::json(200, std::string(40 * 1024 * 1024, ' ')));
  auto item = api().item("doc:1", {});
  ASSERT_FALSE(item);
  EXPECT_TRUE(isFileProviderError(item.error(), -1004));
}

TEST_F(DriveAPITest, UnreachableServiceIsServerUnreachable) {
  int closedPort;
  {
    LoopbackHttpServer gone;
    closedPort = gone.port();
  }
  DriveAPI unreachable(*URL::parse("http://127.0.0.1:" + std::to_string(closedPort)), tokens);
  auto item = unreachable.item("doc:1", {});
  ASSERT_FALSE(item);
  EXPECT_TRUE(isFileProviderError(item.error(), -1004));
}

TEST_F(DriveAPITest, CancellationDuringTheTransferIsCocoaCancelled) {
  server.on("GET", "/api/drive/items/doc:1", [](const httplib::Request&, httplib::Response& response) {
    auto chunks = std::make_shared<int>(0);
    response.set_chunked_content_provider("application/json", [chunks](size_t, httplib::DataSink& sink) {
      if (++*chunks > 100) {
        sink.done();
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      return sink.write(" ", 1);
    });
  });
  std::stop_source stop;
  std::thread canceller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    stop.request_stop();
  });
  auto item = api().item("doc:1", stop.get_token());
  canceller.join();
  ASSERT_FALSE(item);
  EXPECT_EQ(item.error(), CocoaError::make(CocoaError::userCancelled));
}

TEST_F(DriveAPITest, PathsKeepIdentifiersInsideTheirSegment) {
  server.fallback(LoopbackHttpServer::json(404, ""));
  const std::pair<std::string, std::string> cases[] = {
      {"doc:42", "/api/drive/items/doc:42"},
      {"folder:a/b", "/api/drive/items/folder:a%2Fb"},
      {"x?admin=1", "/api/drive/items/x%3Fadmin%3D1"},
      {"x#frag", "/api/drive/items/x%23frag"},
      {"..", "/api/drive/items/%2E%2E"},
      {"../../changes/head", "/api/drive/items/..%2F..%2Fchanges%2Fhead"},
  };
  for (const auto& [identifier, target] : cases) {
    server.clearRequests();
    auto item = api().item(identifier, {});
    ASSERT_FALSE(item);
    EXPECT_EQ(item.error(), FileProviderError::nonExistentItem(identifier)) << identifier;
    auto seen = server.requests();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].target, target);
  }
}

TEST_F(DriveAPITest, BaseWithAPathAndNoQueryWhenNoneIsGiven) {
  server.on("GET", "/svc/api/drive/changes/head", LoopbackHttpServer::json(200, R"({"anchor":"a7","extra":1})"));
  DriveAPI prefixed(*URL::parse(server.base() + "/svc/"), tokens);
  auto anchor = prefixed.head({});
  ASSERT_TRUE(anchor) << anchor.error().localizedDescription();
  EXPECT_EQ(*anchor, "a7");
  EXPECT_EQ(server.requests().at(0).target, "/svc/api/drive/changes/head");
}

TEST(DriveAPIErrorCodeTest, ReadsOnlyTheDetailCode) {
  const std::pair<std::string, std::optional<std::string>> cases[] = {
      {R"({"detail":{"code":"name_conflict"}})", "name_conflict"},
      {R"({"detail":{"code":"x","message":"m"},"other":1})", "x"},
      {R"({"detail":{"code":5}})", std::nullopt},
      {R"({"detail":"Not found"})", std::nullopt},
      {R"({"detail":{}})", std::nullopt},
      {R"({"code":"top"})", std::nullopt},
      {"[]", std::nullopt},
      {"", std::nullopt},
      {"\xff\xfe", std::nullopt},
  };
  for (const auto& [body, code] : cases) EXPECT_EQ(serviceErrorCode(body), code) << body;
}

}  // namespace
}  // namespace ostrel::drive
