#include <gtest/gtest.h>

#include "tools/reference-service/tests/service_fixture.h"

namespace ostrel::refsvc::testing {
namespace {

class TransfersTest : public ServiceTest {
 protected:
  void SetUp() override {
    ServiceTest::SetUp();
    folder_ = idAt("my-matters", {"Harbour Lane acquisition", "Due diligence"});
  }
  Answer requestSlot(const json& body) const { return client_->send("POST", "/api/drive/uploads", body); }
  static httplib::Headers slotHeaders(const Answer& slot) {
    httplib::Headers headers;
    for (const auto& [name, value] : slot.value["headers"].items()) headers.emplace(name, value.get<std::string>());
    return headers;
  }
  std::string folder_;
};

TEST_F(TransfersTest, UploadedBytesComeBackIdentical) {
  // Every byte value, and more than one piece of the service's buffers.
  const std::string bytes = patternBytes(3 * 1024 * 1024 + 17);
  auto created = client_->createDocument(folder_, "Completion statement.pdf", bytes);
  ASSERT_EQ(created.status, 201) << created.body;
  EXPECT_EQ(created.value["outcome"], "created");
  const std::string document = created.value["item"]["identifier"];

  auto newest = client_->page(document, 1);
  ASSERT_EQ(newest.value["items"].size(), 1u);
  const auto& version = newest.value["items"][0];
  EXPECT_EQ(version["size"], bytes.size());
  EXPECT_EQ(version["filename"], "Completion statement (v1).pdf");

  auto described = client_->send("POST", ServiceClient::itemPath(version["identifier"], "/content-url"), json::object());
  ASSERT_EQ(described.status, 200) << described.body;
  EXPECT_EQ(described.value["item"], version);
  auto fetched = client_->sendBare("GET", client_->pathOf(described.value["url"]), std::nullopt);
  ASSERT_EQ(fetched.status, 200);
  EXPECT_EQ(fetched.body.size(), bytes.size());
  EXPECT_TRUE(fetched.body == bytes);
  EXPECT_EQ(fetched.headers.find("Content-Type")->second, "application/pdf");
  EXPECT_EQ(fetched.headers.find("Content-Length")->second, std::to_string(bytes.size()));
}

TEST_F(TransfersTest, TransferAddressesRefuseCredentials) {
  auto slot = requestSlot({{"item", folder_}, {"filename", "Notes.txt"}, {"size", 5}});
  ASSERT_EQ(slot.status, 201);
  auto withToken = slotHeaders(slot);
  withToken.emplace("Authorization", std::string("Bearer ") + partnerToken);
  auto refusedPut = client_->sendBare("PUT", client_->pathOf(slot.value["url"]), "hello", withToken);
  EXPECT_EQ(refusedPut.status, 400);
  EXPECT_EQ(refusedPut.code(), "credentials_not_allowed");
  // The refused put did not use the slot up.
  EXPECT_EQ(client_->sendBare("PUT", client_->pathOf(slot.value["url"]), "hello", slotHeaders(slot)).status, 201);

  const std::string letter =
      client_->page(idAt("my-matters", {"Harbour Lane acquisition", "Correspondence", "Engagement letter.docx"}), 1)
          .value["items"][0]["identifier"];
  auto described = client_->send("POST", ServiceClient::itemPath(letter, "/content-url"), json::object());
  const std::string address = client_->pathOf(described.value["url"]);
  auto refusedGet = client_->sendBare("GET", address, std::nullopt, {{"Authorization", "Bearer x"}});
  EXPECT_EQ(refusedGet.status, 400);
  EXPECT_EQ(refusedGet.code(), "credentials_not_allowed");
  EXPECT_EQ(client_->sendBare("GET", address, std::nullopt).status, 200);
}

TEST_F(TransfersTest, PutsMustMatchTheirSlot) {
  auto slot = requestSlot({{"item", folder_}, {"filename", "Notes.txt"}, {"size", 5}});
  ASSERT_EQ(slot.status, 201);
  const std::string address = client_->pathOf(slot.value["url"]);
  const std::string unsigned_ = address.substr(0, address.find('?'));
  auto headers = slotHeaders(slot);
  auto withoutMarker = headers;
  withoutMarker.erase("X-Ostrel-Upload");
  auto wrongMarker = headers;
  wrongMarker.find("X-Ostrel-Upload")->second = "0000";
  auto wrongType = headers;
  wrongType.find("Content-Type")->second = "text/plain";

  struct Case {
    const char* name;
    std::string path;
    httplib::Headers headers;
    std::string body;
    int status;
    const char* code;
  };
  const Case cases[] = {
      {"no signature", unsigned_, headers, "hello", 403, "upload_denied"},
      {"wrong signature", unsigned_ + "?sig=00", headers, "hello", 403, "upload_denied"},
      {"unknown slot", "/transfers/upload/0123abcd?sig=00", headers, "hello", 403, "upload_denied"},
      {"missing slot header", address, withoutMarker, "hello", 400, "bad_upload_headers"},
      {"other slot header", address, wrongMarker, "hello", 400, "bad_upload_headers"},
      {"other content type", address, wrongType, "hello", 400, "bad_upload_headers"},
      {"shorter than announced", address, headers, "hell", 400, "size_mismatch"},
      {"longer than announced", address, headers, "hello!", 400, "size_mismatch"},
      {"as announced", address, headers, "hello", 201, ""},
      {"a second time", address, headers, "hello", 409, "already_uploaded"},
  };
  for (const auto& c : cases) {
    auto answer = client_->sendBare("PUT", c.path, c.body, c.headers);
    EXPECT_EQ(answer.status, c.status) << c.name << ": " << answer.body;
    EXPECT_EQ(answer.code(), c.code) << c.name;
  }
}

TEST_F(TransfersTest, ExpiredSlotsAndTicketsAreForbidden) {
  auto slot = requestSlot({{"item", folder_}, {"filename", "Notes.txt"}, {"size", nullptr}});
  ASSERT_EQ(slot.status, 201);
  ASSERT_EQ(client_->admin("POST", "expire-uploads").status, 200);
  EXPECT_EQ(client_->sendBare("PUT", client_->pathOf(slot.value["url"]), "late", slotHeaders(slot)).status, 403);
  // A fresh slot works, as the drive asks for one after a 403.
  auto fresh = requestSlot({{"item", folder_}, {"filename", "Notes.txt"}, {"size", nullptr}});
  EXPECT_EQ(client_->sendBare("PUT", client_->pathOf(fresh.value["url"]), "late", slotHeaders(fresh)).status, 201);

  auto created = client_->createDocument(folder_, "Memo.txt", "memo");
  const std::string version = client_->page(created.value["item"]["identifier"], 1).value["items"][0]["identifier"];
  auto described = client_->send("POST", ServiceClient::itemPath(version, "/content-url"), json::object());
  ASSERT_EQ(client_->admin("POST", "expire-tickets").status, 200);
  EXPECT_EQ(client_->sendBare("GET", client_->pathOf(described.value["url"]), std::nullopt).status, 403);
  EXPECT_EQ(client_->sendBare("GET", "/transfers/download/feedbeef", std::nullopt).status, 403);
  EXPECT_EQ(client_->download(version).body, "memo");
}

TEST_F(TransfersTest, SlotsAreOnlyGrantedForWritableItemsAndKnownTypes) {
  const std::string closedFolder = idAt("my-matters", {"Estate of R. Okafor", "Probate"});
  struct Case {
    const char* name;
    json body;
    int status;
    const char* code;
  };
  const Case cases[] = {
      {"unknown item", {{"item", "folder:4040"}, {"filename", "a.txt"}, {"size", 1}}, 404, "not_found"},
      {"matter", {{"item", idAt("my-matters", {"Harbour Lane acquisition"})}, {"filename", "a.txt"}}, 403,
       "forbidden"},
      {"closed matter", {{"item", closedFolder}, {"filename", "a.txt"}}, 403, "forbidden"},
      {"unknown type", {{"item", folder_}, {"filename", "setup.exe"}}, 422, "unknown_file_type"},
      {"no extension", {{"item", folder_}, {"filename", "README"}}, 422, "unknown_file_type"},
      {"no file name", {{"item", folder_}}, 422, "invalid_request"},
      {"upper-case extension", {{"item", folder_}, {"filename", "SCAN.PDF"}}, 201, ""},
  };
  for (const auto& c : cases) {
    auto answer = requestSlot(c.body);
    EXPECT_EQ(answer.status, c.status) << c.name << ": " << answer.body;
    EXPECT_EQ(answer.code(), c.code) << c.name;
  }
}

TEST_F(TransfersTest, ContentAddressesAreOnlyForFiles) {
  auto container = client_->send("POST", ServiceClient::itemPath(folder_, "/content-url"), json::object());
  EXPECT_EQ(container.status, 409);
  EXPECT_EQ(container.code(), "not_a_file");
  auto unknown = client_->send("POST", ServiceClient::itemPath("ver:nothing", "/content-url"), json::object());
  EXPECT_EQ(unknown.status, 404);
}

TEST_F(TransfersTest, RequestLogShowsCredentialsOnlyOnApiRequests) {
  ASSERT_EQ(client_->admin("DELETE", "requests").status, 204);
  auto created = client_->createDocument(folder_, "Memo.txt", "memo");
  ASSERT_EQ(created.status, 201);
  const std::string version = client_->page(created.value["item"]["identifier"], 1).value["items"][0]["identifier"];
  ASSERT_EQ(client_->download(version).status, 200);

  auto log = client_->admin("GET", "requests");
  ASSERT_EQ(log.status, 200);
  int transfers = 0;
  for (const auto& entry : log.value["requests"]) {
    const std::string target = entry["target"];
    const bool isTransfer = target.starts_with("/transfers/");
    transfers += isTransfer;
    EXPECT_EQ(entry["authorization"].get<bool>(), !isTransfer) << target;
  }
  EXPECT_EQ(transfers, 2);  // one put, one download
  EXPECT_EQ(log.value["requests"].back()["method"], "GET");
}

}  // namespace
}  // namespace ostrel::refsvc::testing
