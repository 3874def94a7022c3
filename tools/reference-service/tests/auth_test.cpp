#include <gtest/gtest.h>

#include "tools/reference-service/tests/service_fixture.h"

namespace ostrel::refsvc::testing {
namespace {

using AuthTest = ServiceTest;

TEST_F(AuthTest, RefusesRequestsWithoutAUsableToken) {
  ASSERT_EQ(client_->admin("POST", "tokens", {{"token", "expired"}, {"expires_in", -5}}).status, 201);
  ASSERT_EQ(client_->admin("POST", "tokens", {{"token", "fresh"}, {"expires_in", 3600}}).status, 201);
  struct Case {
    const char* name;
    std::optional<std::string> authorization;
    int status;
  };
  const Case cases[] = {
      {"no header", std::nullopt, 401},
      {"unknown token", "Bearer nobody", 401},
      {"expired token", "Bearer expired", 401},
      {"other scheme", "Basic cGFydG5lcjp4", 401},
      {"empty bearer", "Bearer ", 401},
      {"registered with a lifetime", "Bearer fresh", 200},
      {"registered on the command line", std::string("Bearer ") + partnerToken, 200},
  };
  for (const auto& c : cases) {
    httplib::Headers headers;
    if (c.authorization) headers.emplace("Authorization", *c.authorization);
    auto answer = client_->sendBare("GET", "/api/drive/items/root", std::nullopt, headers);
    EXPECT_EQ(answer.status, c.status) << c.name;
    if (c.status == 401) {
      EXPECT_EQ(answer.code(), "not_authenticated") << c.name;
      EXPECT_TRUE(answer.value["detail"]["message"].is_string()) << c.name;
    }
  }
}

TEST_F(AuthTest, EveryDriveRouteNeedsTheToken) {
  client_->setToken(std::nullopt);
  EXPECT_EQ(client_->send("GET", "/api/drive/changes/head").status, 401);
  EXPECT_EQ(client_->page("root", 10).status, 401);
  EXPECT_EQ(client_->send("POST", "/api/drive/uploads", json{{"item", "x"}}).status, 401);
  EXPECT_EQ(client_->send("DELETE", ServiceClient::itemPath("folder:1")).status, 401);
}

TEST_F(AuthTest, AdminCounterRefusesOnlyTheNextRequests) {
  ASSERT_EQ(client_->admin("POST", "unauthorized", {{"count", 2}}).status, 200);
  EXPECT_EQ(client_->item("root").status, 401);
  EXPECT_EQ(client_->send("GET", "/api/drive/changes/head").status, 401);
  EXPECT_EQ(client_->item("root").status, 200);
}

TEST_F(AuthTest, SwitchedOffDriveAnswersDriveDisabledToSignedInRequests) {
  ASSERT_EQ(client_->admin("POST", "drive", {{"enabled", false}}).status, 200);
  for (const auto& answer : {client_->item("root"), client_->page("my-matters", 5),
                             client_->send("GET", "/api/drive/changes/head"),
                             client_->send("POST", "/api/drive/uploads", json{{"item", "folder:1"}})}) {
    EXPECT_EQ(answer.status, 404);
    EXPECT_EQ(answer.code(), "drive_disabled");
  }
  client_->setToken("nobody");
  EXPECT_EQ(client_->item("root").status, 401);
  client_->setToken(partnerToken);

  ASSERT_EQ(client_->admin("POST", "drive", {{"enabled", true}}).status, 200);
  EXPECT_EQ(client_->item("root").status, 200);
}

}  // namespace
}  // namespace ostrel::refsvc::testing
