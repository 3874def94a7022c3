#include <gtest/gtest.h>

#include "tools/reference-service/tests/service_process.h"

namespace ostrel::refsvc::testing {
namespace {

TEST(OptionsTest, BadArgumentsEndWithStatusTwoAndAMessage) {
  TemporaryDirectory directory;
  const std::string data = (directory.path() / "data").string();
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"--data", data},
      {"--listen", "127.0.0.1:0"},
      {"--listen"},
      {"--listen", "127.0.0.1", "--data", data},
      {"--listen", "127.0.0.1:http", "--data", data},
      {"--listen", "127.0.0.1:70000", "--data", data},
      {"--listen", "0.0.0.0:0", "--data", data},
      {"--listen", "127.0.0.1:0", "--data", data, "--seed", "everything"},
      {"--listen", "127.0.0.1:0", "--data", data, "--token", ""},
      {"--listen", "127.0.0.1:0", "--data", data, "--colour"},
  };
  for (const auto& arguments : cases) {
    std::string shown;
    for (const auto& argument : arguments) shown += argument + " ";
    auto finished = runService(arguments);
    ASSERT_TRUE(finished.has_value()) << shown << finished.error();
    EXPECT_EQ(finished->exitStatus, 2) << shown;
    EXPECT_NE(finished->standardError.find("usage:"), std::string::npos) << shown << finished->standardError;
  }
  EXPECT_FALSE(std::filesystem::exists(data));
}

}  // namespace
}  // namespace ostrel::refsvc::testing
