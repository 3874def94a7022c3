// The service client against the reference service, as a real process.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

#include <nlohmann/json.hpp>

#include "drive/client/drive_api.h"
#include "platform/foundation/testing/log_capture.h"
#include "tools/testing/reference_service.h"

namespace ostrel::drive {
namespace {

using ostrel::testing::ReferenceService;
namespace fs = std::filesystem;

class FixedToken final : public TokenSource {
 public:
  explicit FixedToken(std::string token) : token_(std::move(token)) {}
  std::expected<std::string, Error> token(std::stop_token) override { return token_; }
  void invalidate() override { ++invalidations; }
  int invalidations = 0;

 private:
  std::string token_;
};

class DriveAPIEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(service.running());
    std::string pattern = (fs::temp_directory_path() / "ostrel-e2e-XXXXXX").string();
    dir = mkdtemp(pattern.data());
  }
  void TearDown() override { fs::remove_all(dir); }

  DriveAPI api() const { return DriveAPI(service.baseURL(), tokens); }
  std::vector<DriveItemPayload> all(const std::string& container, int limit) {
    std::vector<DriveItemPayload> items;
    std::optional<std::string> cursor;
    for (int pages = 0; pages < 1000; ++pages) {
      auto page = api().children(container, cursor, limit, {});
      EXPECT_TRUE(page) << container;
      if (!page) break;
      items.insert(items.end(), page->items.begin(), page->items.end());
      if (!page->nextPage) break;
      cursor = page->nextPage;
    }
    return items;
  }
  std::string writableFolder() {
    for (const auto& matter : all("my-matters", 50)) {
      for (const auto& child : all(matter.identifier, 50)) {
        if (child.identifier.starts_with("folder:") &&
            std::find(child.capabilities.begin(), child.capabilities.end(), "add_children") != child.capabilities.end()) {
          return child.identifier;
        }
      }
    }
    return {};
  }
  fs::path write(const std::string& name, const std::string& bytes) {
    auto path = dir / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  // Requests the service saw, as "METHOD target" with whether a token came along.
  std::vector<std::pair<std::string, bool>> seen() {
    auto log = nlohmann::json::parse(service.admin("GET", "/admin/requests").body);
    std::vector<std::pair<std::string, bool>> out;
    for (const auto& r : log["requests"]) {
      out.emplace_back(r["method"].get<std::string>() + " " + r["target"].get<std::string>(),
                       r["authorization"].get<bool>());
    }
    return out;
  }

  ReferenceService service;
  std::shared_ptr<FixedToken> tokens = std::make_shared<FixedToken>("test-token");
  fs::path dir;
  ostrel::testing::LogCapture logs;
};

TEST_F(DriveAPIEndToEnd, PagingVisitsEveryChildOnce) {
  auto top = all("root", 500);
  ASSERT_EQ(top.size(), 2u);
  for (int limit : {1, 2, 3, 500}) {
    auto matters = all("admin-all", limit);
    std::set<std::string> unique;
    for (const auto& m : matters) unique.insert(m.identifier);
    EXPECT_EQ(unique.size(), matters.size()) << limit;
    EXPECT_EQ(matters.size(), all("admin-all", 500).size()) << limit;
  }
}

TEST_F(DriveAPIEndToEnd, UploadCreateDownloadRoundTripWithoutTheTokenOnTransfers) {
  const std::string folder = writableFolder();
  ASSERT_FALSE(folder.empty());
  std::string bytes(3 * 1024 * 1024 + 5, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 131) % 256);
  service.admin("DELETE", "/admin/requests");

  auto uploadID = api().upload(write("Statement.pdf", bytes), "Statement.pdf", folder, {});
  ASSERT_TRUE(uploadID) << uploadID.error().localizedDescription();
  auto created = api().create(folder, "Statement.pdf", *uploadID, {});
  ASSERT_TRUE(created) << created.error().localizedDescription();
  EXPECT_EQ(created->outcome, "created");
  auto newest = api().newestVersion(created->item.identifier, {});
  ASSERT_TRUE(newest) << newest.error().localizedDescription();
  EXPECT_EQ(newest->size, static_cast<int64_t>(bytes.size()));

  auto content = api().content(newest->identifier, {});
  ASSERT_TRUE(content) << content.error().localizedDescription();
  auto file = api().download(content->url, dir, {});
  ASSERT_TRUE(file) << file.error().localizedDescription();
  std::ifstream in(*file, std::ios::binary);
  EXPECT_TRUE(std::string(std::istreambuf_iterator<char>(in), {}) == bytes);

  for (const auto& [request, authorized] : seen()) {
    if (request.find("/transfers/") != std::string::npos) {
      EXPECT_FALSE(authorized) << request;
    } else if (request.find("/api/drive/") != std::string::npos) {
      EXPECT_TRUE(authorized) << request;
    }
  }
}

TEST_F(DriveAPIEndToEnd, AnExpiredSlotIsAskedForOnce) {
  const std::string folder = writableFolder();
  service.admin("POST", "/admin/faults", R"({"method":"PUT","path_prefix":"/transfers/upload/","status":403,"count":1})");
  auto uploadID = api().upload(write("Note.txt", "hello"), "Note.txt", folder, {});
  ASSERT_TRUE(uploadID) << uploadID.error().localizedDescription();
  EXPECT_EQ(logs.messages(LogLevel::Error), std::vector<std::string>{"upload PUT failed status=403 attempt=0"});
  EXPECT_TRUE(api().create(folder, "Note.txt", *uploadID, {}));
}

TEST_F(DriveAPIEndToEnd, ChangesFollowWritesAndExpireAfterCompaction) {
  auto anchor = api().head({});
  ASSERT_TRUE(anchor) << anchor.error().localizedDescription();
  const std::string folder = writableFolder();
  auto created = api().create(folder, "Closing set", std::nullopt, {});
  ASSERT_TRUE(created) << created.error().localizedDescription();

  auto changes = api().changes(*anchor, 500, {});
  ASSERT_TRUE(changes) << changes.error().localizedDescription();
  EXPECT_TRUE(std::any_of(changes->updated.begin(), changes->updated.end(),
                          [&](const auto& p) { return p.identifier == created->item.identifier; }));
  EXPECT_NE(changes->anchor, *anchor);

  ASSERT_TRUE(api().deleteItem(created->item.identifier, {}));
  auto later = api().changes(changes->anchor, 500, {});
  ASSERT_TRUE(later);
  EXPECT_EQ(later->deleted, std::vector<std::string>{created->item.identifier});

  service.admin("POST", "/admin/compact-changes");
  auto expired = api().changes(*anchor, 500, {});
  ASSERT_FALSE(expired);
  EXPECT_EQ(expired.error(), FileProviderError::make(FileProviderError::syncAnchorExpired));
}

TEST_F(DriveAPIEndToEnd, RejectedTokensAndASwitchedOffDrive) {
  service.admin("POST", "/admin/unauthorized", R"({"count":1})");
  EXPECT_TRUE(api().item("my-matters", {}));
  EXPECT_EQ(tokens->invalidations, 1);

  service.admin("POST", "/admin/unauthorized", R"({"count":2})");
  auto twice = api().item("my-matters", {});
  ASSERT_FALSE(twice);
  EXPECT_EQ(twice.error(), FileProviderError::make(FileProviderError::notAuthenticated));

  service.admin("POST", "/admin/drive", R"({"enabled":false})");
  auto disabled = api().deleteItem("folder:1", {});
  ASSERT_FALSE(disabled);
  EXPECT_EQ(disabled.error(), FileProviderError::make(FileProviderError::cannotSynchronize));
}

TEST_F(DriveAPIEndToEnd, AnswersCutShortAreFailuresNotData) {
  const std::string folder = writableFolder();
  auto uploadID = api().upload(write("Long.txt", std::string(200000, 'x')), "Long.txt", folder, {});
  ASSERT_TRUE(uploadID);
  auto created = api().create(folder, "Long.txt", *uploadID, {});
  ASSERT_TRUE(created);
  auto version = api().newestVersion(created->item.identifier, {});
  ASSERT_TRUE(version);
  auto content = api().content(version->identifier, {});
  ASSERT_TRUE(content);
  service.admin("POST", "/admin/faults",
                R"({"method":"GET","path_prefix":"/transfers/download/","drop_after_bytes":1000})");
  const fs::path downloads = dir / "downloads";
  fs::create_directory(downloads);
  auto file = api().download(content->url, downloads, {});
  ASSERT_FALSE(file);
  EXPECT_EQ(file.error(), FileProviderError::make(FileProviderError::serverUnreachable));
  EXPECT_TRUE(fs::is_empty(downloads));
}

}  // namespace
}  // namespace ostrel::drive
