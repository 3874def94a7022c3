#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "drive-helper/input_lines.h"
#include "drive-helper/tests/helper_fixture.h"

namespace ostrel::drive::helper::testing {
namespace {

using json::Value;

TEST(InputTest, OnlyLinesHoldingAJsonObjectAreHandedOn) {
  std::istringstream input(
      "not json\n"
      "[1,2,3]\n"
      "\"status\"\n"
      "\n"
      "{\"type\":\"status\"}\n"
      "{\"type\":\n"
      "  \"signal\"}\n"
      "42\n"
      "{\"type\":\"token\",\"token\":\"t\",\"expires_at\":1.5}\r\n"
      "{\"type\":\"reconnect\"}");  // the last line may lack its line feed
  std::vector<Value> delivered;
  readMessages(input, [&](Value message) { delivered.push_back(std::move(message)); });
  EXPECT_EQ(delivered, (std::vector<Value>{{{"type", "status"}},
                                           {{"type", "token"}, {"token", "t"}, {"expires_at", 1.5}},
                                           {{"type", "reconnect"}}}));
}

TEST_F(HostTest, GarbageLinesPrintNothing) {
  std::istringstream input("garbage\n[]\n{\"unterminated\"\nnull\n");
  readMessages(input, [&](Value message) { host(false).handle(message); });
  queue_->runReady();
  EXPECT_TRUE(events().empty());
}

}  // namespace
}  // namespace ostrel::drive::helper::testing
