#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "drive/client/drive_api.h"
#include "drive/client/tests/counting_tokens.h"
#include "platform/foundation/testing/log_capture.h"
#include "platform/foundation/testing/loopback_http_server.h"

namespace ostrel::drive {
namespace {

using nlohmann::json;
using testing::LogCapture;
using testing::LoopbackHttpServer;
namespace fs = std::filesystem;

constexpr const char* versionBody =
    R"({"identifier":"ver:1","parent_identifier":"doc:1","kind":"file","filename":"Brief (v2).docx","size":5,
        "content_version":"3F2504E0-4F89-11D3-9A0C-0305E82C3301:2","metadata_version":"m","capabilities":["write"]})";

std::string pageOf(const std::string& item) {
  return R"({"items":[)" + item + R"(],"next_page":null})";
}

class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "ostrel-api-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~TempDir() { fs::remove_all(path_); }
  const fs::path& path() const { return path_; }
  std::vector<fs::path> entries() const {
    return {fs::directory_iterator(path_), fs::directory_iterator()};
  }

 private:
  fs::path path_;
};

class DriveAPIOperationsTest : public ::testing::Test {
 protected:
  DriveAPI api() { return DriveAPI(*URL::parse(server.base()), tokens); }
  LoopbackHttpServer::Recorded onlyRequest() {
    auto seen = server.requests();
    EXPECT_EQ(seen.size(), 1u);
    return seen.empty() ? LoopbackHttpServer::Recorded{} : seen.front();
  }

  LoopbackHttpServer server;
  std::shared_ptr<CountingTokens> tokens = std::make_shared<CountingTokens>();
  LogCapture logs;
};

TEST_F(DriveAPIOperationsTest, ListingPathsAndQueries) {
  server.fallback(LoopbackHttpServer::json(200, R"({"items":[],"next_page":null})"));
  struct Case {
    std::optional<std::string> cursor;
    std::string target;
  };
  const Case cases[] = {
      {std::nullopt, "/api/drive/containers/folder:9/items?limit=200"},
      {"c", "/api/drive/containers/folder:9/items?limit=200&page=c"},
      {"a&b=c d", "/api/drive/containers/folder:9/items?limit=200&page=a%26b%3Dc%20d"},
  };
  for (const auto& c : cases) {
    server.clearRequests();
    auto page = api().children("folder:9", c.cursor, 200, {});
    ASSERT_TRUE(page) << page.error().localizedDescription();
    EXPECT_TRUE(page->items.empty());
    EXPECT_FALSE(page->nextPage);
    EXPECT_EQ(onlyRequest().target, c.target);
  }
  server.on("GET", "/api/drive/containers/root/items", LoopbackHttpServer::json(200, R"({"items":[]})"));
  auto root = api().children("root", std::nullopt, 500, {});
  ASSERT_TRUE(root);
  EXPECT_FALSE(root->nextPage);
}

TEST_F(DriveAPIOperationsTest, ChangeFeed) {
  server.on("GET", "/api/drive/changes",
            LoopbackHttpServer::json(200, R"({"updated":[)" + std::string(versionBody) +
                                              R"(],"deleted":["doc:7"],"anchor":"a2","more":true})"));
  auto changes = api().changes("a", 500, {});
  ASSERT_TRUE(changes) << changes.error().localizedDescription();
  EXPECT_EQ(onlyRequest().target, "/api/drive/changes?anchor=a&limit=500");
  EXPECT_EQ(changes->updated.size(), 1u);
  EXPECT_EQ(changes->deleted, std::vector<std::string>{"doc:7"});
  EXPECT_EQ(changes->anchor, "a2");
  EXPECT_TRUE(changes->more);

  server.on("GET", "/api/drive/changes", LoopbackHttpServer::json(200, R"({"updated":[],"deleted":[],"anchor":"a"})"));
  auto noMore = api().changes("a", 500, {});
  ASSERT_FALSE(noMore);
  EXPECT_EQ(noMore.error(), FileProviderError::make(FileProviderError::serverUnreachable));

  server.on("GET", "/api/drive/changes", LoopbackHttpServer::json(410, R"({"detail":{"code":"anchor_expired"}})"));
  auto expired = api().changes("old", 500, {});
  ASSERT_FALSE(expired);
  EXPECT_EQ(expired.error(), FileProviderError::make(FileProviderError::syncAnchorExpired));
}

TEST_F(DriveAPIOperationsTest, ContentURLIsAPostOfAnEmptyObject) {
  server.on("POST", "/api/drive/items/ver:1/content-url",
            LoopbackHttpServer::json(200, R"({"url":"http://127.0.0.1:9/t/abc","item":)" + std::string(versionBody) + "}"));
  auto content = api().content("ver:1", {});
  ASSERT_TRUE(content) << content.error().localizedDescription();
  EXPECT_EQ(content->url.string(), "http://127.0.0.1:9/t/abc");
  EXPECT_EQ(content->item.identifier, "ver:1");
  auto request = onlyRequest();
  EXPECT_EQ(request.body, "{}");
  EXPECT_EQ(request.header("Content-Type"), "application/json");

  server.on("POST", "/api/drive/items/ver:1/content-url",
            LoopbackHttpServer::json(200, R"({"url":"file:///etc/passwd","item":)" + std::string(versionBody) + "}"));
  auto local = api().content("ver:1", {});
  ASSERT_FALSE(local);
  EXPECT_EQ(local.error(), FileProviderError::make(FileProviderError::serverUnreachable));
}

TEST_F(DriveAPIOperationsTest, WriteBodies) {
  server.fallback(LoopbackHttpServer::json(200, versionBody));
  struct Case {
    std::function<bool(const DriveAPI&)> call;
    std::string method;
    std::string target;
    json body;
  };
  const Case cases[] = {
      {[](const DriveAPI& a) { return a.saveDraft("ver:1", "u1", std::nullopt, {}).has_value(); }, "PUT",
       "/api/drive/items/ver:1/draft", {{"upload_id", "u1"}, {"base_version_id", nullptr}}},
      {[](const DriveAPI& a) { return a.saveDraft("dfl:2", "u1", "3f25", {}).has_value(); }, "PUT",
       "/api/drive/items/dfl:2/draft", {{"upload_id", "u1"}, {"base_version_id", "3f25"}}},
      {[](const DriveAPI& a) { return a.patch("doc:1", std::nullopt, std::nullopt, {}).has_value(); }, "PATCH",
       "/api/drive/items/doc:1", json::object()},
      {[](const DriveAPI& a) { return a.patch("doc:1", "New.docx", "folder:3", {}).has_value(); }, "PATCH",
       "/api/drive/items/doc:1", {{"filename", "New.docx"}, {"parent", "folder:3"}}},
      {[](const DriveAPI& a) { return a.patch("doc:1", std::nullopt, "folder:3", {}).has_value(); }, "PATCH",
       "/api/drive/items/doc:1", {{"parent", "folder:3"}}},
      {[](const DriveAPI& a) { return a.continueFromSave("save:4", {}).has_value(); }, "POST",
       "/api/drive/items/save:4/continue", json::object()},
  };
  for (const auto& c : cases) {
    server.clearRequests();
    EXPECT_TRUE(c.call(api())) << c.target;
    auto request = onlyRequest();
    EXPECT_EQ(request.method, c.method);
    EXPECT_EQ(request.target, c.target);
    EXPECT_EQ(json::parse(request.body), c.body) << c.target;
    EXPECT_EQ(request.header("Content-Type"), "application/json");
  }
}

TEST_F(DriveAPIOperationsTest, CreateDocumentOrFolder) {
  server.on("POST", "/api/drive/items",
            LoopbackHttpServer::json(201, R"({"item":)" + std::string(versionBody) + R"(,"outcome":"created"})"));
  auto folder = api().create("folder:9", "Pleadings", std::nullopt, {});
  ASSERT_TRUE(folder) << folder.error().localizedDescription();
  EXPECT_EQ(folder->outcome, "created");
  EXPECT_EQ(json::parse(onlyRequest().body), (json{{"parent", "folder:9"}, {"filename", "Pleadings"}, {"kind", "container"}}));

  server.clearRequests();
  ASSERT_TRUE(api().create("folder:9", "Brief.docx", "u7", {}));
  EXPECT_EQ(json::parse(onlyRequest().body), (json{{"parent", "folder:9"}, {"filename", "Brief.docx"}, {"upload_id", "u7"}}));

  server.on("POST", "/api/drive/items", LoopbackHttpServer::json(404, ""));
  auto missing = api().create("folder:404", "x", std::nullopt, {});
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error(), FileProviderError::make(FileProviderError::noSuchItem));

  server.on("POST", "/api/drive/items", LoopbackHttpServer::json(403, R"({"detail":{"code":"forbidden"}})"));
  auto forbidden = api().create("folder:1", "x", std::nullopt, {});
  ASSERT_FALSE(forbidden);
  EXPECT_EQ(DriveRefusal::from(forbidden.error()), (DriveRefusal{403, "forbidden"}));
}

TEST_F(DriveAPIOperationsTest, WebURLAndItsMissingItem) {
  server.on("POST", "/api/drive/items/doc:1/web-url", LoopbackHttpServer::json(200, R"({"url":"https://app/x"})"));
  auto web = api().webUrl("doc:1", {});
  ASSERT_TRUE(web);
  EXPECT_EQ(web->url, "https://app/x");
  EXPECT_EQ(onlyRequest().body, "{}");

  server.on("POST", "/api/drive/items/doc:1/web-url", LoopbackHttpServer::json(404, ""));
  auto missing = api().webUrl("doc:1", {});
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error(), FileProviderError::nonExistentItem("doc:1"));
}

TEST_F(DriveAPIOperationsTest, NewestVersionIsTheFirstOfAOneItemPage) {
  server.on("GET", "/api/drive/containers/doc:1/items", LoopbackHttpServer::json(200, pageOf(versionBody)));
  auto newest = api().newestVersion("doc:1", {});
  ASSERT_TRUE(newest);
  EXPECT_EQ(newest->identifier, "ver:1");
  EXPECT_EQ(onlyRequest().target, "/api/drive/containers/doc:1/items?limit=1");

  server.on("GET", "/api/drive/containers/doc:1/items", LoopbackHttpServer::json(200, pageOf("")));
  auto none = api().newestVersion("doc:1", {});
  ASSERT_FALSE(none);
  EXPECT_EQ(none.error(), FileProviderError::make(FileProviderError::noSuchItem));
}

// The service side of uploads: slots handed out in turn, puts answered with
// the statuses given.
class UploadTest : public DriveAPIOperationsTest {
 protected:
  void answerPutsWith(std::vector<int> statuses) {
    server.on("POST", "/api/drive/uploads", [this](const httplib::Request&, httplib::Response& response) {
      const int n = ++slots;
      response.set_content(R"({"upload_id":"up)" + std::to_string(n) + R"(","url":")" + server.base() + "/put/" +
                               std::to_string(n) + R"(","headers":{"Content-Type":"application/x-test","x_Odd-Case":"keep me"},)"
                               R"("expires_at":"2030-01-01T00:00:00Z"})",
                           "application/json");
    });
    server.fallback(LoopbackHttpServer::sequence([&] {
      std::vector<LoopbackHttpServer::Handler> handlers;
      for (int status : statuses) handlers.push_back(LoopbackHttpServer::json(status, ""));
      return handlers;
    }()));
  }
  std::vector<LoopbackHttpServer::Recorded> requests(const std::string& method) {
    std::vector<LoopbackHttpServer::Recorded> out;
    for (auto& r : server.requests()) {
      if (r.method == method) out.push_back(r);
    }
    return out;
  }
  fs::path writeFile(const std::string& bytes) {
    auto file = dir.path() / "Brief.docx";
    std::ofstream(file, std::ios::binary) << bytes;
    return file;
  }

  int slots = 0;
  TempDir dir;
};

TEST_F(UploadTest, PutsTheFileWithTheSlotHeadersAndNoToken) {
  answerPutsWith({201});
  auto id = api().upload(writeFile("hello"), "Brief.docx", "folder:9", {});
  ASSERT_TRUE(id) << id.error().localizedDescription();
  EXPECT_EQ(*id, "up1");
  auto slotRequests = requests("POST");
  ASSERT_EQ(slotRequests.size(), 1u);
  EXPECT_EQ(json::parse(slotRequests[0].body), (json{{"item", "folder:9"}, {"filename", "Brief.docx"}, {"size", 5}}));
  auto puts = requests("PUT");
  ASSERT_EQ(puts.size(), 1u);
  EXPECT_EQ(puts[0].target, "/put/1");
  EXPECT_EQ(puts[0].body, "hello");
  EXPECT_EQ(puts[0].header("Content-Type"), "application/x-test");
  EXPECT_EQ(puts[0].header("x_Odd-Case"), "keep me");
  EXPECT_FALSE(puts[0].headers.contains("Authorization"));
  EXPECT_NE(puts[0].header("Accept"), "application/json");
}

TEST_F(UploadTest, PutRetries) {
  struct Case {
    std::vector<int> statuses;
    std::optional<std::string> uploadId;
    std::optional<DriveRefusal> refusal;
    size_t slotsRequested;
    std::vector<std::string> logged;
  };
  const Case cases[] = {
      {{403, 201}, "up2", std::nullopt, 2, {"upload PUT failed status=403 attempt=0"}},
      {{403, 403},
       std::nullopt,
       DriveRefusal{403, "upload_expired"},
       2,
       {"upload PUT failed status=403 attempt=0", "upload PUT failed status=403 attempt=1"}},
      {{500}, std::nullopt, DriveRefusal{500, "upload_failed"}, 1, {"upload PUT failed status=500 attempt=0"}},
      {{403, 500},
       std::nullopt,
       DriveRefusal{500, "upload_failed"},
       2,
       {"upload PUT failed status=403 attempt=0", "upload PUT failed status=500 attempt=1"}},
  };
  for (const auto& c : cases) {
    slots = 0;
    server.clearRequests();
    logs.clear();
    answerPutsWith(c.statuses);
    auto id = api().upload(writeFile("bytes"), "Brief.docx", "ver:1", {});
    if (c.uploadId) {
      ASSERT_TRUE(id) << id.error().localizedDescription();
      EXPECT_EQ(*id, *c.uploadId);
    } else {
      ASSERT_FALSE(id);
      EXPECT_EQ(DriveRefusal::from(id.error()), c.refusal);
    }
    EXPECT_EQ(static_cast<size_t>(slots), c.slotsRequested);
    EXPECT_EQ(logs.messages(LogLevel::Error), c.logged);
  }
}

TEST_F(UploadTest, UnreadableSizeIsAnnouncedAsNull) {
  answerPutsWith({201});
  const auto fifo = dir.path() / "pipe.docx";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::thread writer([&] { std::ofstream(fifo, std::ios::binary) << "streamed"; });
  auto id = api().upload(fifo, "pipe.docx", "folder:9", {});
  writer.join();
  ASSERT_TRUE(id) << id.error().localizedDescription();
  EXPECT_EQ(json::parse(requests("POST").at(0).body)["size"], nullptr);
  EXPECT_EQ(requests("PUT").at(0).body, "streamed");
}

TEST_F(UploadTest, SlotRefusalPassesThrough) {
  server.on("POST", "/api/drive/uploads", LoopbackHttpServer::json(422, R"({"detail":{"code":"unknown_file_type"}})"));
  auto id = api().upload(writeFile("x"), "a.xyz", "folder:9", {});
  ASSERT_FALSE(id);
  EXPECT_EQ(DriveRefusal::from(id.error()), (DriveRefusal{422, "unknown_file_type"}));
  EXPECT_TRUE(requests("PUT").empty());
}

TEST_F(DriveAPIOperationsTest, DownloadKeepsOnly200) {
  TempDir dir;
  server.on("GET", "/t/ok", [](const httplib::Request&, httplib::Response& response) {
    response.set_content("document bytes", "application/octet-stream");
  });
  auto file = api().download(*URL::parse(server.base() + "/t/ok"), dir.path(), {});
  ASSERT_TRUE(file) << file.error().localizedDescription();
  EXPECT_EQ(file->parent_path(), dir.path());
  const std::string name = file->filename().string();
  EXPECT_EQ(name.size(), 36u);
  EXPECT_EQ(name, [&] {
    std::string upper = name;
    for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return upper;
  }());
  std::ifstream in(*file);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "document bytes");
  auto request = onlyRequest();
  EXPECT_FALSE(request.headers.contains("Authorization"));
  EXPECT_NE(request.header("Accept"), "application/json");
  EXPECT_EQ(tokens->requests(), 0);
  fs::remove(*file);

  for (int status : {206, 204, 404, 500}) {
    server.on("GET", "/t/odd", LoopbackHttpServer::json(status, status == 204 ? "" : "partial"));
    logs.clear();
    auto odd = api().download(*URL::parse(server.base() + "/t/odd"), dir.path(), {});
    ASSERT_FALSE(odd) << status;
    EXPECT_EQ(odd.error(), FileProviderError::make(FileProviderError::serverUnreachable));
    EXPECT_EQ(logs.messages(LogLevel::Error),
              std::vector<std::string>{"download failed status=" + std::to_string(status)});
    EXPECT_TRUE(dir.entries().empty()) << status;
  }
}

TEST_F(DriveAPIOperationsTest, CancelledDownloadLeavesNothing) {
  TempDir dir;
  server.on("GET", "/t/slow", [](const httplib::Request&, httplib::Response& response) {
    auto sent = std::make_shared<int>(0);
    response.set_chunked_content_provider("application/octet-stream", [sent](size_t, httplib::DataSink& sink) {
      if (++*sent > 200) {
        sink.done();
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      return sink.write("0123456789", 10);
    });
  });
  std::stop_source stop;
  std::thread canceller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    stop.request_stop();
  });
  auto file = api().download(*URL::parse(server.base() + "/t/slow"), dir.path(), stop.get_token());
  canceller.join();
  ASSERT_FALSE(file);
  EXPECT_EQ(file.error(), CocoaError::make(CocoaError::userCancelled));
  EXPECT_TRUE(dir.entries().empty());
}

}  // namespace
}  // namespace ostrel::drive
