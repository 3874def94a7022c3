#include <gtest/gtest.h>

#include "tools/reference-service/tests/service_fixture.h"

namespace ostrel::refsvc::testing {
namespace {

using PersistenceTest = ServiceTest;

TEST_F(PersistenceTest, ARestartServesTheSameDrive) {
  const std::string folder = idAt("my-matters", {"Meyer v. Castellan", "Evidence"});
  const std::string anchor = client_->send("GET", "/api/drive/changes/head").value["anchor"];
  ASSERT_EQ(client_->admin("POST", "tokens", {{"token", "later"}, {"expires_in", 3600}}).status, 201);
  auto created = client_->createDocument(folder, "Expert report.pdf", "report bytes");
  ASSERT_EQ(created.status, 201);
  const std::string document = created.value["item"]["identifier"];
  auto before = client_->children("admin-all");
  auto versionsBefore = client_->children(document);
  // An upload put but not yet used survives too.
  const std::string pending = client_->upload(folder, "Pending.txt", "pending");

  stopService();
  startService();  // with --seed demo again: a store with data is not seeded twice

  EXPECT_EQ(client_->children("admin-all"), before);
  EXPECT_EQ(client_->children(document), versionsBefore);
  EXPECT_EQ(client_->download(versionsBefore[0]["identifier"]).body, "report bytes");
  client_->setToken("later");
  EXPECT_EQ(client_->item("root").status, 200);
  auto feed = client_->send("GET", "/api/drive/changes?anchor=" + anchor + "&limit=100");
  ASSERT_EQ(feed.status, 200) << feed.body;
  bool found = false;
  for (const auto& item : feed.value["updated"]) found |= item["identifier"] == document;
  EXPECT_TRUE(found);
  auto used = client_->send("POST", "/api/drive/items",
                            json{{"parent", folder}, {"filename", "Pending.txt"}, {"upload_id", pending}});
  EXPECT_EQ(used.status, 201) << used.body;
}

TEST_F(PersistenceTest, StopsCleanlyOnInterrupt) {
  auto status = process_->stop(SIGINT);
  process_.reset();
  ASSERT_TRUE(status.has_value()) << status.error();
  EXPECT_EQ(*status, 0);
}

}  // namespace
}  // namespace ostrel::refsvc::testing
