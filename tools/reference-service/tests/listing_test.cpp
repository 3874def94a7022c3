#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <set>

#include "tools/reference-service/tests/service_fixture.h"

namespace ostrel::refsvc::testing {
namespace {

using ListingTest = ServiceTest;

std::vector<std::string> identifiers(const std::vector<json>& items) {
  std::vector<std::string> out;
  for (const auto& item : items) out.push_back(item["identifier"]);
  return out;
}

TEST_F(ListingTest, PagesThroughALargeContainerWithoutRepeatsOrGaps) {
  const std::string archive = idAt("my-matters", {"Harbour Lane acquisition", "Correspondence", "Archive"});
  // Mixed case, so the order has to ignore case; documents come after folders.
  std::vector<std::string> folders;
  for (int i = 0; i < 23; ++i) {
    folders.push_back((i % 2 ? "folder " : "Folder ") + std::string(1, static_cast<char>('a' + i)));
  }
  for (const auto& name : folders) ASSERT_EQ(client_->createFolder(archive, name).status, 201);
  ASSERT_EQ(client_->createDocument(archive, "A note.txt", "note").status, 201);

  std::vector<std::string> seen;
  std::optional<std::string> cursor;
  int pages = 0;
  for (; pages < 20; ++pages) {
    auto page = client_->page(archive, 4, cursor);
    ASSERT_EQ(page.status, 200) << page.body;
    EXPECT_LE(page.value["items"].size(), 4u);
    for (const auto& item : page.value["items"]) seen.push_back(item["filename"]);
    if (page.value["next_page"].is_null()) break;
    cursor = page.value["next_page"].get<std::string>();
  }
  EXPECT_EQ(pages + 1, 6);  // 24 children, 4 a page
  std::vector<std::string> expected = folders;
  expected.push_back("A note.txt");
  EXPECT_EQ(seen, expected);
}

TEST_F(ListingTest, PagesAreCompressedWithGzipNeverBrotli) {
  const struct {
    const char* accepted;
    const char* used;
  } cases[] = {{"br, gzip, deflate", "gzip"}, {"gzip", "gzip"}, {"deflate, br", ""}, {"br", ""}, {"", ""}};
  for (const auto& [accepted, used] : cases) {
    SCOPED_TRACE(accepted);
    httplib::Headers headers;
    if (*accepted) headers.emplace("Accept-Encoding", accepted);
    auto answer = client_->send("GET", "/api/drive/containers/my-matters/items?limit=500", std::nullopt, headers);
    ASSERT_EQ(answer.status, 200);
    auto encoding = answer.headers.find("Content-Encoding");
    EXPECT_EQ(encoding == answer.headers.end() ? "" : encoding->second, used);
    EXPECT_FALSE(answer.value["items"].empty());
  }
}

TEST_F(ListingTest, RefusesCursorsOfOtherListingsAndBrokenOnes) {
  const std::string folder = idAt("my-matters", {"Harbour Lane acquisition", "Correspondence"});
  auto first = client_->page("my-matters", 1);
  ASSERT_EQ(first.status, 200);
  const std::string foreign = first.value["next_page"];
  for (const std::string& cursor : {foreign, std::string("!!"), std::string("e30"), std::string("abc")}) {
    auto answer = client_->page(folder, 2, cursor);
    EXPECT_EQ(answer.status, 400) << cursor;
    EXPECT_EQ(answer.code(), "bad_cursor") << cursor;
  }
  EXPECT_EQ(client_->page("my-matters", 1, foreign).status, 200);
}

TEST_F(ListingTest, ChecksTheLimit) {
  struct Case {
    std::string query;
    int status;
  };
  const Case cases[] = {{"", 400}, {"limit=0", 400}, {"limit=-3", 400}, {"limit=two", 400}, {"limit=1.5", 400},
                        {"limit=1", 200}, {"limit=500", 200}, {"limit=100000", 200},
                        {"limit=99999999999999999999999", 200}};
  for (const auto& c : cases) {
    auto answer = client_->send("GET", "/api/drive/containers/admin-all/items?" + c.query);
    EXPECT_EQ(answer.status, c.status) << c.query << " " << answer.body;
  }
  EXPECT_EQ(client_->page("admin-all", 1).value["items"].size(), 1u);
}

TEST_F(ListingTest, ListsVersionsNewestFirstThenDraftsAndSaves) {
  const std::string letter =
      idAt("my-matters", {"Harbour Lane acquisition", "Correspondence", "Engagement letter.docx"});
  auto children = client_->children(letter);
  ASSERT_EQ(children.size(), 5u);
  std::vector<std::string> labels;
  for (size_t i = 0; i < 3; ++i) {
    const auto& version = children[i];
    labels.push_back(version["version_label"]);
    EXPECT_EQ(version["kind"], "file");
    EXPECT_EQ(version["capabilities"], json::array({"write"}));
    // The drive reads the version's UUID back from the front of the content version.
    const std::string uuid = version["identifier"].get<std::string>().substr(4);
    EXPECT_TRUE(version["content_version"].get<std::string>().starts_with(uuid)) << version.dump();
    EXPECT_EQ(uuid.size(), 36u);
  }
  EXPECT_EQ(labels, (std::vector<std::string>{"v3", "v2", "v1"}));
  EXPECT_EQ(children[0]["filename"], "Engagement letter (v3).docx");
  EXPECT_TRUE(children[3]["identifier"].get<std::string>().starts_with("dft:"));
  EXPECT_TRUE(children[4]["identifier"].get<std::string>().starts_with("svs:"));

  // The first item of a one-item page is the newest version, as the drive asks for it.
  auto newest = client_->page(letter, 1);
  EXPECT_EQ(newest.value["items"][0]["identifier"], children[0]["identifier"]);
}

TEST_F(ListingTest, DocumentWithoutVersionsListsNothing) {
  auto empty = itemAt("my-matters", {"Harbour Lane acquisition", "Transaction documents", "Disclosure letter.docx"});
  ASSERT_TRUE(empty.is_object());
  EXPECT_EQ(empty["child_count"], 0);
  auto page = client_->page(empty["identifier"], 1);
  ASSERT_EQ(page.status, 200);
  EXPECT_TRUE(page.value["items"].empty());
  EXPECT_TRUE(page.value["next_page"].is_null());
}

TEST_F(ListingTest, FilesAndUnknownItemsAreNotListed) {
  const std::string letter =
      idAt("my-matters", {"Harbour Lane acquisition", "Correspondence", "Engagement letter.docx"});
  const std::string version = client_->page(letter, 1).value["items"][0]["identifier"];
  for (const std::string& id : {version, std::string("folder:9999"), std::string("x:1")}) {
    auto answer = client_->page(id, 10);
    EXPECT_EQ(answer.status, 404) << id;
    EXPECT_EQ(answer.code(), "not_found") << id;
  }
}

TEST_F(ListingTest, MattersSitUnderTheListsThePartnerBelongsTo) {
  auto mine = client_->children("my-matters");
  auto all = client_->children("admin-all");
  EXPECT_EQ(mine.size(), 3u);
  EXPECT_EQ(all.size(), 4u);
  for (const auto& matter : mine) EXPECT_EQ(matter["parent_identifier"], "my-matters");
  auto northgate = std::find_if(all.begin(), all.end(), [](const json& m) {
    return m["filename"] == "Northgate lease renewal";
  });
  ASSERT_NE(northgate, all.end());
  EXPECT_EQ((*northgate)["parent_identifier"], "admin-all");
  EXPECT_EQ(client_->item("root").value["child_count"], 2);
  EXPECT_EQ(identifiers(client_->children("root")), (std::vector<std::string>{"my-matters", "admin-all"}));
}

TEST_F(ListingTest, ReadOnlyMattersGiveNoCapabilitiesAnywhereInside) {
  for (const char* matter : {"Estate of R. Okafor", "Northgate lease renewal"}) {
    const std::string id = idAt("admin-all", {matter});
    std::vector<std::string> pending = {id};
    int visited = 0;
    while (!pending.empty() && visited < 200) {
      const std::string container = pending.back();
      pending.pop_back();
      for (const auto& child : client_->children(container)) {
        ++visited;
        EXPECT_EQ(child["capabilities"], json::array()) << matter << " " << child["identifier"];
        if (child["kind"] == "container") pending.push_back(child["identifier"]);
      }
    }
    EXPECT_GT(visited, 3) << matter;
  }
  auto open = itemAt("my-matters", {"Harbour Lane acquisition", "Correspondence"});
  EXPECT_EQ(open["capabilities"], json::array({"rename", "reparent", "delete", "add_children"}));
}

TEST_F(ListingTest, PayloadsUseSnakeCaseAndMicrosecondUtcDates) {
  auto letter = itemAt("my-matters", {"Harbour Lane acquisition", "Correspondence", "Engagement letter.docx"});
  const std::regex date(R"(\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}\.\d{6}Z)");
  for (const auto& payload : {letter, client_->page(letter["identifier"], 1).value["items"][0]}) {
    for (const char* key : {"identifier", "parent_identifier", "kind", "filename", "content_version",
                            "metadata_version", "created_at", "modified_at", "capabilities"}) {
      EXPECT_TRUE(payload.contains(key)) << key << " in " << payload.dump();
    }
    EXPECT_TRUE(std::regex_match(payload["created_at"].get<std::string>(), date)) << payload.dump();
    EXPECT_TRUE(std::regex_match(payload["modified_at"].get<std::string>(), date)) << payload.dump();
  }
  EXPECT_EQ(letter["kind"], "container");
  EXPECT_EQ(letter["child_count"], 5);
  auto version = client_->page(letter["identifier"], 1).value["items"][0];
  EXPECT_GT(version["size"].get<int64_t>(), 0);
  EXPECT_EQ(version["parent_identifier"], letter["identifier"]);
}

}  // namespace
}  // namespace ostrel::refsvc::testing
