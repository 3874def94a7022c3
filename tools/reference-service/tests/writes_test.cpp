#include <gtest/gtest.h>

#include <cctype>
#include <set>

#include "tools/reference-service/tests/service_fixture.h"

namespace ostrel::refsvc::testing {
namespace {

class WritesTest : public ServiceTest {
 protected:
  void SetUp() override {
    ServiceTest::SetUp();
    correspondence_ = idAt("my-matters", {"Harbour Lane acquisition", "Correspondence"});
    letter_ = idAt("my-matters", {"Harbour Lane acquisition", "Correspondence", "Engagement letter.docx"});
    auto versions = client_->children(letter_);
    for (const auto& child : versions) {
      if (child["identifier"].get<std::string>().starts_with("ver:")) versions_.push_back(child["identifier"]);
    }
  }
  Answer create(const json& body) const { return client_->send("POST", "/api/drive/items", body); }
  Answer saveDraft(const std::string& item, const std::string& uploadId, const json& base) const {
    return client_->send("PUT", ServiceClient::itemPath(item, "/draft"),
                         json{{"upload_id", uploadId}, {"base_version_id", base}});
  }
  Answer patch(const std::string& item, const json& body) const {
    return client_->send("PATCH", ServiceClient::itemPath(item), body);
  }
  static std::string uuidOf(const std::string& version) { return version.substr(4); }

  std::string correspondence_;
  std::string letter_;
  std::vector<std::string> versions_;  // newest first
};

TEST_F(WritesTest, CreationIsRefusedOutsideWritableFolders) {
  const std::string uploadId = client_->upload(correspondence_, "Memo.txt", "memo");
  const std::string closedFolder = idAt("my-matters", {"Estate of R. Okafor", "Probate"});
  const std::string foreignFolder = idAt("admin-all", {"Northgate lease renewal", "Lease"});
  struct Case {
    const char* name;
    json body;
    int status;
    const char* code;
  };
  const Case cases[] = {
      {"in a matter", {{"parent", idAt("my-matters", {"Meyer v. Castellan"})}, {"filename", "A"}, {"kind", "container"}},
       403, "forbidden"},
      {"in a document", {{"parent", letter_}, {"filename", "A"}, {"kind", "container"}}, 403, "forbidden"},
      {"in the root", {{"parent", "root"}, {"filename", "A"}, {"kind", "container"}}, 403, "forbidden"},
      {"in a closed matter", {{"parent", closedFolder}, {"filename", "A"}, {"kind", "container"}}, 403, "forbidden"},
      {"in another's matter", {{"parent", foreignFolder}, {"filename", "A"}, {"kind", "container"}}, 403,
       "forbidden"},
      {"unknown parent", {{"parent", "folder:4040"}, {"filename", "A"}, {"kind", "container"}}, 404, "not_found"},
      {"taken name", {{"parent", correspondence_}, {"filename", "archive"}, {"kind", "container"}}, 409,
       "name_conflict"},
      {"folder over a document", {{"parent", correspondence_}, {"filename", "Engagement letter.docx"},
                                  {"kind", "container"}}, 409, "name_conflict"},
      {"unknown type", {{"parent", correspondence_}, {"filename", "Memo.exe"}, {"upload_id", uploadId}}, 422,
       "unknown_file_type"},
      {"unknown upload", {{"parent", correspondence_}, {"filename", "Memo.txt"}, {"upload_id", "feed"}}, 409,
       "upload_missing"},
      {"neither upload nor kind", {{"parent", correspondence_}, {"filename", "Memo.txt"}}, 422, "invalid_request"},
  };
  for (const auto& c : cases) {
    auto answer = create(c.body);
    EXPECT_EQ(answer.status, c.status) << c.name << ": " << answer.body;
    EXPECT_EQ(answer.code(), c.code) << c.name;
  }
  // None of the refusals used the upload up.
  EXPECT_EQ(create({{"parent", correspondence_}, {"filename", "Memo.txt"}, {"upload_id", uploadId}}).status, 201);
  auto again = create({{"parent", correspondence_}, {"filename", "Memo 2.txt"}, {"upload_id", uploadId}});
  EXPECT_EQ(again.status, 409);
  EXPECT_EQ(again.code(), "upload_missing");
}

TEST_F(WritesTest, NamesMustBeUsable) {
  const std::string names[] = {"", ".", "..", "a/b", std::string("a\0b", 3), std::string(256, 'n')};
  for (const auto& name : names) {
    auto answer = create({{"parent", correspondence_}, {"filename", name}, {"kind", "container"}});
    EXPECT_EQ(answer.status, 422) << name.size();
    EXPECT_EQ(answer.code(), "invalid_name") << name.size();
  }
  EXPECT_EQ(create({{"parent", correspondence_}, {"filename", std::string(255, 'n')}, {"kind", "container"}}).status,
            201);
}

TEST_F(WritesTest, SavingUnderADocumentsNameAddsAVersion) {
  auto first = client_->createDocument(correspondence_, "Side letter.docx", "first");
  ASSERT_EQ(first.status, 201);
  auto second = client_->createDocument(correspondence_, "Side letter.docx", "second");
  ASSERT_EQ(second.status, 200) << second.body;
  EXPECT_EQ(second.value["outcome"], "new_version");
  EXPECT_EQ(second.value["item"]["identifier"], first.value["item"]["identifier"]);
  EXPECT_EQ(second.value["item"]["child_count"], 2);
  auto newest = client_->page(first.value["item"]["identifier"], 1).value["items"][0];
  EXPECT_EQ(newest["version_label"], "v2");
  EXPECT_EQ(client_->download(newest["identifier"]).body, "second");
}

TEST_F(WritesTest, DraftsFollowTheirBaseVersion) {
  ASSERT_EQ(versions_.size(), 3u);
  const std::string newest = versions_[0];
  const std::string older = versions_[1];
  std::string upper = uuidOf(older);
  for (auto& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));

  auto draft = saveDraft(newest, client_->upload(newest, "Engagement letter (v3).docx", "edited"), upper);
  ASSERT_EQ(draft.status, 200) << draft.body;
  const std::string draftId = draft.value["identifier"];
  EXPECT_TRUE(draftId.starts_with("dfl:"));
  EXPECT_EQ(draft.value["capabilities"], json::array({"write"}));
  EXPECT_TRUE(draft.value["content_version"].get<std::string>().starts_with(uuidOf(older))) << draft.body;
  EXPECT_EQ(client_->item(draft.value["parent_identifier"]).value["parent_identifier"], letter_);

  // Without a base the draft keeps the one it had; its content version moves on.
  auto revised = saveDraft(draftId, client_->upload(draftId, draft.value["filename"], "edited again"), nullptr);
  ASSERT_EQ(revised.status, 200) << revised.body;
  EXPECT_EQ(revised.value["identifier"], draftId);
  EXPECT_NE(revised.value["content_version"], draft.value["content_version"]);
  EXPECT_TRUE(revised.value["content_version"].get<std::string>().starts_with(uuidOf(older)));
  EXPECT_EQ(client_->download(draftId).body, "edited again");

  // A version without a base: the draft starts from that version.
  auto plain = saveDraft(older, client_->upload(older, "Engagement letter (v2).docx", "x"), nullptr);
  ASSERT_EQ(plain.status, 200);
  EXPECT_TRUE(plain.value["content_version"].get<std::string>().starts_with(uuidOf(older)));
}

TEST_F(WritesTest, DraftsRefuseForeignBasesAndOtherItems) {
  const std::string otherDocument =
      idAt("my-matters", {"Harbour Lane acquisition", "Correspondence", "Letter to vendor's solicitors.docx"});
  const std::string foreignVersion = client_->page(otherDocument, 1).value["items"][0]["identifier"];
  const std::string newest = versions_[0];
  for (const std::string& base : {uuidOf(foreignVersion), std::string("3f2504e0-4f89-11d3-9a0c-0305e82c3301"),
                                  std::string("not-a-uuid"), newest}) {
    auto answer = saveDraft(newest, client_->upload(newest, "Letter.docx", "x"), base);
    EXPECT_EQ(answer.status, 409) << base;
    EXPECT_EQ(answer.code(), "unknown_base_version") << base;
  }
  auto onDocument = saveDraft(letter_, client_->upload(letter_, "Letter.docx", "x"), nullptr);
  EXPECT_EQ(onDocument.status, 403);
  EXPECT_EQ(onDocument.code(), "forbidden");

  const std::string closedDocument = idAt("my-matters", {"Estate of R. Okafor", "Probate", "Will.pdf"});
  const std::string closedVersion = client_->page(closedDocument, 1).value["items"][0]["identifier"];
  auto closedSlot = client_->send("POST", "/api/drive/uploads",
                                  json{{"item", closedVersion}, {"filename", "Will.pdf"}, {"size", 1}});
  EXPECT_EQ(closedSlot.status, 403);
  auto closed = saveDraft(closedVersion, "feed", nullptr);
  EXPECT_EQ(closed.status, 403);
}

TEST_F(WritesTest, ContinuingASaveMakesADraftOfItsBytes) {
  const std::string saves = client_->children(letter_).back()["identifier"];
  ASSERT_TRUE(saves.starts_with("svs:"));
  const std::string save = client_->children(saves).front()["identifier"];
  const std::string saved = client_->download(save).body;
  ASSERT_FALSE(saved.empty());

  auto draft = client_->send("POST", ServiceClient::itemPath(save, "/continue"), json::object());
  ASSERT_EQ(draft.status, 200) << draft.body;
  EXPECT_TRUE(draft.value["identifier"].get<std::string>().starts_with("dfl:"));
  EXPECT_TRUE(draft.value["content_version"].get<std::string>().starts_with(uuidOf(versions_[0])));
  EXPECT_EQ(client_->download(draft.value["identifier"]).body, saved);
  EXPECT_EQ(client_->download(save).body, saved);

  auto onVersion = client_->send("POST", ServiceClient::itemPath(versions_[0], "/continue"), json::object());
  EXPECT_EQ(onVersion.status, 403);
  EXPECT_EQ(client_->send("POST", ServiceClient::itemPath("save:4040", "/continue"), json::object()).status, 404);
}

TEST_F(WritesTest, RenamesAndMoves) {
  const std::string diligence = idAt("my-matters", {"Harbour Lane acquisition", "Due diligence"});
  const std::string titles = idAt(diligence, {"Title reports"});
  auto before = client_->item(titles).value;

  auto renamed = patch(titles, {{"filename", "Title"}});
  ASSERT_EQ(renamed.status, 200) << renamed.body;
  EXPECT_EQ(renamed.value["filename"], "Title");
  EXPECT_NE(renamed.value["metadata_version"], before["metadata_version"]);
  EXPECT_EQ(renamed.value["content_version"], before["content_version"]);

  auto moved = patch(titles, {{"parent", correspondence_}, {"filename", "Titles"}});
  ASSERT_EQ(moved.status, 200) << moved.body;
  EXPECT_EQ(moved.value["parent_identifier"], correspondence_);
  EXPECT_TRUE(client_->childNamed(correspondence_, "Titles").has_value());
  EXPECT_FALSE(client_->childNamed(diligence, "Title").has_value());

  auto unchanged = patch(titles, json::object());
  EXPECT_EQ(unchanged.status, 200);
  EXPECT_EQ(unchanged.value, client_->item(titles).value);
}

TEST_F(WritesTest, RefusedRenamesAndMoves) {
  const std::string diligence = idAt("my-matters", {"Harbour Lane acquisition", "Due diligence"});
  const std::string titles = idAt(diligence, {"Title reports"});
  const std::string matter = idAt("my-matters", {"Harbour Lane acquisition"});
  const std::string closedFolder = idAt("my-matters", {"Estate of R. Okafor", "Probate"});
  struct Case {
    const char* name;
    std::string item;
    json body;
    int status;
    const char* code;
  };
  const Case cases[] = {
      {"into itself", diligence, {{"parent", diligence}}, 409, "invalid_move"},
      {"into its own subfolder", diligence, {{"parent", titles}}, 409, "invalid_move"},
      {"into a matter", titles, {{"parent", matter}}, 403, "forbidden"},
      {"into a document", titles, {{"parent", letter_}}, 403, "forbidden"},
      {"into a closed matter", titles, {{"parent", closedFolder}}, 403, "forbidden"},
      {"onto a sibling's name", titles, {{"filename", "DATA ROOM INDEX.TXT"}}, 409, "name_conflict"},
      {"an unusable name", titles, {{"filename", "a/b"}}, 422, "invalid_name"},
      {"a version", versions_[0], {{"filename", "x.docx"}}, 403, "forbidden"},
      {"a closed matter's folder", closedFolder, {{"filename", "x"}}, 403, "forbidden"},
      {"an unknown item", "folder:4040", {{"filename", "x"}}, 404, "not_found"},
  };
  for (const auto& c : cases) {
    auto answer = patch(c.item, c.body);
    EXPECT_EQ(answer.status, c.status) << c.name << ": " << answer.body;
    EXPECT_EQ(answer.code(), c.code) << c.name;
  }
  EXPECT_EQ(client_->item(titles).value["parent_identifier"], diligence);
}

TEST_F(WritesTest, Deletions) {
  const std::string archive = idAt(correspondence_, {"Archive"});
  auto emptied = client_->send("DELETE", ServiceClient::itemPath(archive));
  EXPECT_EQ(emptied.status, 204);
  EXPECT_TRUE(emptied.body.empty());
  EXPECT_EQ(client_->item(archive).status, 404);

  auto notEmpty = client_->send("DELETE", ServiceClient::itemPath(correspondence_));
  EXPECT_EQ(notEmpty.status, 409);
  EXPECT_EQ(notEmpty.code(), "folder_not_empty");

  auto head = client_->send("GET", "/api/drive/changes/head").value["anchor"].get<std::string>();
  std::vector<std::string> inside;
  std::vector<std::string> pending = {letter_};
  while (!pending.empty()) {
    auto container = pending.back();
    pending.pop_back();
    for (const auto& child : client_->children(container)) {
      inside.push_back(child["identifier"]);
      if (child["kind"] == "container") pending.push_back(child["identifier"]);
    }
  }
  ASSERT_GE(inside.size(), 7u);  // three versions, drafts, a draft, saves, a save
  EXPECT_EQ(client_->send("DELETE", ServiceClient::itemPath(letter_)).status, 204);
  for (const auto& id : inside) EXPECT_EQ(client_->item(id).status, 404) << id;
  auto feed = client_->send("GET", "/api/drive/changes?anchor=" + head + "&limit=500");
  std::set<std::string> deleted;
  for (const auto& id : feed.value["deleted"]) deleted.insert(id.get<std::string>());
  for (const auto& id : inside) EXPECT_TRUE(deleted.count(id)) << id;
  EXPECT_TRUE(deleted.count(letter_));

  struct Case {
    const char* name;
    std::string item;
    int status;
  };
  const Case refused[] = {
      {"a matter", idAt("my-matters", {"Meyer v. Castellan"}), 403},
      {"a version", idAt("my-matters", {"Meyer v. Castellan", "Pleadings", "Defence.pdf", "Defence (v1).pdf"}), 403},
      {"a closed matter's document", idAt("my-matters", {"Estate of R. Okafor", "Closing letter.docx"}), 403},
      {"an unknown item", "doc:4040", 404},
  };
  for (const auto& c : refused) EXPECT_EQ(client_->send("DELETE", ServiceClient::itemPath(c.item)).status, c.status) << c.name;
}

TEST_F(WritesTest, WebAddressesLeadToTheItemsPage) {
  auto answer = client_->send("POST", ServiceClient::itemPath(letter_, "/web-url"), json::object());
  ASSERT_EQ(answer.status, 200);
  const std::string url = answer.value["url"];
  EXPECT_EQ(url, client_->base() + "/app/items/" + letter_);
  auto page = client_->sendBare("GET", client_->pathOf(url), std::nullopt);
  EXPECT_EQ(page.status, 200);
  EXPECT_NE(page.body.find("Engagement letter.docx"), std::string::npos);
  EXPECT_EQ(client_->send("POST", ServiceClient::itemPath("doc:4040", "/web-url"), json::object()).status, 404);
}

}  // namespace
}  // namespace ostrel::refsvc::testing
