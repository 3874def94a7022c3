#include <gtest/gtest.h>

#include "tools/reference-service/tests/service_fixture.h"

namespace ostrel::refsvc::testing {
namespace {

using IdentifiersTest = ServiceTest;

// Identifiers are single path segments whatever they hold; none of them
// may reach the data directory or another route.
TEST_F(IdentifiersTest, HostileIdentifiersAreJustUnknownItems) {
  const std::string hostile[] = {
      "a/b", "..", ".", "../../service.sqlite3", "folder:1/..", "doc:1?x=1", "%2F", "ver:../../blobs",
      "matter:1/items", "root/", "#", "doc:1%00", std::string("nul\0byte", 8), "sp ace", "ünïcødé"};
  for (const auto& id : hostile) {
    const std::string encoded = ServiceClient::itemPath(id);
    auto item = client_->item(id);
    EXPECT_EQ(item.status, 404) << encoded;
    EXPECT_EQ(item.code(), "not_found") << encoded;
    EXPECT_EQ(client_->page(id, 5).status, 404) << encoded;
    EXPECT_EQ(client_->send("POST", ServiceClient::itemPath(id, "/content-url"), json::object()).status, 404)
        << encoded;
    EXPECT_EQ(client_->send("DELETE", encoded).status, 404) << encoded;
  }
  EXPECT_EQ(client_->item("root").status, 200);
}

TEST_F(IdentifiersTest, RawPathsDoNotClimbOrReroute) {
  struct Case {
    const char* path;
    int status;
  };
  const Case cases[] = {
      {"/api/drive/items/../../admin/requests", 404},
      {"/api/drive/items/..%2F..%2Fadmin%2Frequests", 404},
      {"/api/drive/items/root%2F", 404},
      {"/api/drive/containers/root%2Fitems", 404},
      {"/api/drive/items/%zz", 400},
      {"/api/drive/items/root/extra", 404},
      {"/api/drive/items/root", 200},
  };
  for (const auto& c : cases) EXPECT_EQ(client_->send("GET", c.path).status, c.status) << c.path;

  const struct {
    const char* method;
    const char* path;
  } transfers[] = {{"GET", "/transfers/download/..%2F..%2Fservice.sqlite3"},
                   {"GET", "/transfers/download/../service.sqlite3"},
                   {"PUT", "/transfers/upload/..%2Fblobs?sig=x"},
                   {"PUT", "/transfers/upload/..?sig=x"}};
  for (const auto& t : transfers) {
    auto answer = client_->sendBare(t.method, t.path, std::string("x"),
                                    {{"Content-Type", "application/octet-stream"}, {"X-Ostrel-Upload", ".."}});
    EXPECT_TRUE(answer.status == 403 || answer.status == 404) << t.path << " " << answer.status;
  }
}

TEST_F(IdentifiersTest, NamesWithAnyCharactersRoundTrip) {
  const std::string folder = idAt("my-matters", {"Meyer v. Castellan", "Evidence"});
  for (const std::string name : {"Letter ?#%2F & more.txt", "..hidden.txt", "Ünïcødé – “quotes”.docx"}) {
    auto created = client_->createDocument(folder, name, name);
    ASSERT_EQ(created.status, 201) << name << " " << created.body;
    EXPECT_EQ(created.value["item"]["filename"], name);
    EXPECT_EQ(client_->item(created.value["item"]["identifier"]).value["filename"], name);
  }
}

}  // namespace
}  // namespace ostrel::refsvc::testing
