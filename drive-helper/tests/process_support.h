#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "drive-helper/tests/helper_fixture.h"
#include "platform/foundation/testing/child_process.h"

namespace ostrel::drive::helper::testing {

// What one run of the real program printed and how it ended.
struct HelperRun {
  std::vector<std::string> lines;
  std::optional<int> status;
  std::vector<std::string> errorLines;

  // The only line, parsed; a failure when there was not exactly one JSON line.
  json::Value object() const;
};

// The real program, started in the test's home with the test's XPC directory.
class HelperProcessTest : public ::testing::Test {
 protected:
  // Runs a one-shot command to its end.
  HelperRun run(const std::vector<std::string>& args, const std::map<std::string, std::string>& environment = {});
  std::optional<ostrel::testing::ChildProcess> start(const std::vector<std::string>& args,
                                                     const std::map<std::string, std::string>& environment = {});
  std::map<std::string, std::string> environment(const std::map<std::string, std::string>& extra) const;

  // The group the program's entitlements name, and its container.
  std::string group() const { return HELPER_APP_GROUP; }
  std::filesystem::path container() const;
  std::filesystem::path configFile(const std::string& domain) const;

  TemporaryHome home_;
};

}  // namespace ostrel::drive::helper::testing
