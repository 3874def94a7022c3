#include <gtest/gtest.h>

#include <set>

#include "tools/reference-service/ids.h"
#include "tools/reference-service/tests/service_fixture.h"

namespace ostrel::refsvc::testing {
namespace {

class ChangesTest : public ServiceTest {
 protected:
  std::string head() const {
    auto answer = client_->send("GET", "/api/drive/changes/head");
    EXPECT_EQ(answer.status, 200) << answer.body;
    return answer.value.value("anchor", "");
  }
  Answer changes(const std::string& anchor, int limit) const {
    return client_->send("GET", "/api/drive/changes?anchor=" + anchor + "&limit=" + std::to_string(limit));
  }
  static std::set<std::string> updatedIds(const Answer& batch) {
    std::set<std::string> out;
    for (const auto& item : batch.value["updated"]) out.insert(item["identifier"].get<std::string>());
    return out;
  }
};

TEST_F(ChangesTest, AWriteAppearsAfterTheAnchorAndOnlyThere) {
  const std::string parent = idAt("my-matters", {"Harbour Lane acquisition", "Correspondence"});
  const std::string before = head();
  auto empty = changes(before, 100);
  ASSERT_EQ(empty.status, 200);
  EXPECT_TRUE(empty.value["updated"].empty());
  EXPECT_FALSE(empty.value["more"]);

  auto created = client_->createFolder(parent, "Board packs");
  ASSERT_EQ(created.status, 201);
  const std::string folder = created.value["item"]["identifier"];
  auto batch = changes(before, 100);
  ASSERT_EQ(batch.status, 200) << batch.body;
  // The parent is reported too: its child count changed.
  EXPECT_EQ(updatedIds(batch), (std::set<std::string>{folder, parent}));
  EXPECT_TRUE(batch.value["deleted"].empty());
  EXPECT_FALSE(batch.value["more"]);
  for (const auto& item : batch.value["updated"]) {
    if (item["identifier"] == parent) {
      EXPECT_EQ(item["child_count"], client_->item(parent).value["child_count"]);
    }
  }
  EXPECT_EQ(batch.value["anchor"], head());

  const std::string after = batch.value["anchor"];
  ASSERT_EQ(client_->send("DELETE", ServiceClient::itemPath(folder)).status, 204);
  auto removal = changes(after, 100);
  ASSERT_EQ(removal.status, 200);
  EXPECT_EQ(removal.value["deleted"], json::array({folder}));
  EXPECT_EQ(updatedIds(removal), (std::set<std::string>{parent}));
}

TEST_F(ChangesTest, BatchesStopAtTheLimitAndSayMoreIsWaiting) {
  const std::string parent = idAt("my-matters", {"Meyer v. Castellan", "Evidence"});
  std::string anchor = head();
  std::set<std::string> made;
  for (const char* name : {"One", "Two", "Three"}) {
    auto created = client_->createFolder(parent, name);
    ASSERT_EQ(created.status, 201);
    made.insert(created.value["item"]["identifier"].get<std::string>());
  }
  // Each creation logs the folder and its parent: six records.
  std::set<std::string> seen;
  int batches = 0;
  bool more = true;
  for (; more && batches < 20; ++batches) {
    auto batch = changes(anchor, 2);
    ASSERT_EQ(batch.status, 200) << batch.body;
    EXPECT_LE(batch.value["updated"].size() + batch.value["deleted"].size(), 2u);
    for (const auto& id : updatedIds(batch)) seen.insert(id);
    more = batch.value["more"];
    anchor = batch.value["anchor"];
  }
  EXPECT_EQ(batches, 3);
  made.insert(parent);
  EXPECT_EQ(seen, made);
}

TEST_F(ChangesTest, CompactionExpiresOlderAnchorsOnly) {
  const std::string parent = idAt("my-matters", {"Meyer v. Castellan", "Evidence"});
  const std::string old = head();
  ASSERT_EQ(client_->createFolder(parent, "Exhibits").status, 201);
  ASSERT_EQ(client_->admin("POST", "compact-changes").status, 200);

  auto expired = changes(old, 10);
  EXPECT_EQ(expired.status, 410);
  EXPECT_EQ(expired.code(), "anchor_expired");
  // The head at compaction time missed nothing and still counts.
  const std::string current = head();
  auto fine = changes(current, 10);
  EXPECT_EQ(fine.status, 200);
  ASSERT_EQ(client_->createFolder(parent, "Transcripts").status, 201);
  EXPECT_EQ(changes(current, 10).value["updated"].size(), 2u);
}

TEST_F(ChangesTest, AnchorsItNeverIssuedAreExpired) {
  const std::string current = head();
  // Anchors are this store's id and a position in its log.
  auto decoded = fromBase64url(current);
  ASSERT_TRUE(decoded.has_value());
  const std::string store = decoded->substr(0, decoded->find(':'));
  const std::string anchors[] = {"", "not-an-anchor", "@@@", current + "AA",
                                 base64url("0123456789abcdef:0"),   // another store's
                                 base64url(store + ":99999"),       // beyond the head
                                 base64url(store + ":-1"), base64url(store + ":")};
  for (const auto& anchor : anchors) {
    auto answer = changes(anchor, 10);
    EXPECT_EQ(answer.status, 410) << anchor;
    EXPECT_EQ(answer.code(), "anchor_expired") << anchor;
  }
}

}  // namespace
}  // namespace ostrel::refsvc::testing
