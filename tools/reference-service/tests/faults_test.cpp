#include <gtest/gtest.h>

#include <chrono>

#include "tools/reference-service/tests/service_fixture.h"

namespace ostrel::refsvc::testing {
namespace {

using FaultsTest = ServiceTest;

TEST_F(FaultsTest, StatusOverridesMatchMethodAndPathForCountRequests) {
  auto added = client_->admin("POST", "faults",
                              {{"method", "GET"}, {"path_prefix", "/api/drive/items/"}, {"status", 503},
                               {"body", "{\"detail\":{\"code\":\"maintenance\"}}"}, {"count", 2}});
  ASSERT_EQ(added.status, 201) << added.body;
  EXPECT_EQ(client_->page("root", 5).status, 200);  // another path
  EXPECT_EQ(client_->send("POST", ServiceClient::itemPath("root", "/web-url"), json::object()).status, 200);
  for (int i = 0; i < 2; ++i) {
    auto refused = client_->item("root");
    EXPECT_EQ(refused.status, 503);
    EXPECT_EQ(refused.code(), "maintenance");
  }
  EXPECT_EQ(client_->item("root").status, 200);
}

TEST_F(FaultsTest, ClearingRemovesEveryRule) {
  ASSERT_EQ(client_->admin("POST", "faults", {{"method", "*"}, {"path_prefix", "/api/"}, {"status", 500},
                                              {"count", 100}})
                .status,
            201);
  EXPECT_EQ(client_->item("root").status, 500);
  ASSERT_EQ(client_->admin("DELETE", "faults").status, 204);
  EXPECT_EQ(client_->item("root").status, 200);
  EXPECT_TRUE(client_->admin("GET", "faults").value["faults"].empty());
}

TEST_F(FaultsTest, RefusesRulesThatDoNothing) {
  for (const json& rule : {json{{"path_prefix", "/"}}, json{{"status", 42}}, json{{"status", 500}, {"count", 0}},
                           json{{"delay_ms", -1}}, json::array()}) {
    EXPECT_EQ(client_->admin("POST", "faults", rule).status, 422) << rule.dump();
  }
}

TEST_F(FaultsTest, DropCutsATransferAfterTheGivenBytes) {
  const std::string folder = idAt("my-matters", {"Meyer v. Castellan", "Evidence"});
  const std::string bytes = patternBytes(1 << 20, 7);
  auto created = client_->createDocument(folder, "Recording transcript.txt", bytes);
  ASSERT_EQ(created.status, 201);
  const std::string version = client_->page(created.value["item"]["identifier"], 1).value["items"][0]["identifier"];
  auto described = client_->send("POST", ServiceClient::itemPath(version, "/content-url"), json::object());
  const std::string address = client_->pathOf(described.value["url"]);
  ASSERT_EQ(client_->admin("POST", "faults", {{"path_prefix", "/transfers/download/"}, {"drop_after_bytes", 1000}})
                .status,
            201);

  httplib::Client raw(client_->base());
  raw.set_read_timeout(30, 0);
  std::string received;
  std::string announced;
  auto cut = raw.Get(
      address,
      [&](const httplib::Response& response) {
        announced = response.get_header_value("Content-Length");
        return true;
      },
      [&](const char* data, size_t length) {
        received.append(data, length);
        return true;
      });
  EXPECT_FALSE(cut);  // the connection ended early
  EXPECT_EQ(announced, std::to_string(bytes.size()));
  EXPECT_EQ(received, bytes.substr(0, 1000));

  auto whole = client_->sendBare("GET", address, std::nullopt);
  EXPECT_EQ(whole.status, 200);
  EXPECT_TRUE(whole.body == bytes);
}

TEST_F(FaultsTest, DropAlsoCutsJsonAnswers) {
  ASSERT_EQ(client_->admin("POST", "faults", {{"path_prefix", "/api/drive/changes/head"}, {"drop_after_bytes", 3}})
                .status,
            201);
  EXPECT_EQ(client_->send("GET", "/api/drive/changes/head").status, 0);
  EXPECT_EQ(client_->send("GET", "/api/drive/changes/head").status, 200);
}

TEST_F(FaultsTest, DelayHoldsTheAnswerBack) {
  ASSERT_EQ(client_->admin("POST", "faults", {{"path_prefix", "/api/drive/items/root"}, {"delay_ms", 300}}).status,
            201);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(client_->item("root").status, 200);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
}

}  // namespace
}  // namespace ostrel::refsvc::testing
