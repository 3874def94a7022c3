#include "drive-helper/tests/process_support.h"

#include <nlohmann/json.hpp>

namespace ostrel::drive::helper::testing {

json::Value HelperRun::object() const {
  if (lines.size() != 1) {
    ADD_FAILURE() << "expected one line, got " << lines.size();
    return {};
  }
  auto value = json::Value::parse(lines[0], nullptr, false);
  EXPECT_TRUE(value.is_object()) << lines[0];
  return value;
}

std::map<std::string, std::string> HelperProcessTest::environment(const std::map<std::string, std::string>& extra) const {
  std::map<std::string, std::string> values{{"OSTREL_HOME", home_.home().string()},
                                            {"OSTREL_XPC_DIR", home_.xpcDirectory().string()}};
  for (const auto& [name, value] : extra) values[name] = value;
  return values;
}

std::optional<ostrel::testing::ChildProcess> HelperProcessTest::start(const std::vector<std::string>& args,
                                                                      const std::map<std::string, std::string>& extra) {
  return ostrel::testing::ChildProcess::start(HELPER_BINARY, args, environment(extra));
}

HelperRun HelperProcessTest::run(const std::vector<std::string>& args, const std::map<std::string, std::string>& extra) {
  HelperRun result;
  auto child = start(args, extra);
  if (!child) {
    ADD_FAILURE() << "cannot start " << HELPER_BINARY;
    return result;
  }
  child->closeInput();
  while (auto line = child->readOutputLine(kWait)) result.lines.push_back(*line);
  result.status = child->waitForExit(kWait);
  child->drain(std::chrono::milliseconds(500));
  result.errorLines = child->remainingErrorLines();
  return result;
}

std::filesystem::path HelperProcessTest::container() const {
  return home_.home() / "Group Containers" / group();
}

std::filesystem::path HelperProcessTest::configFile(const std::string& domain) const {
  return container() / "domains" / (domain + ".json");
}

}  // namespace ostrel::drive::helper::testing
