#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz/registered_targets.h"

namespace ostrel::fuzz {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> targetNames() {
  std::vector<std::string> names;
  std::stringstream list(OSTREL_FUZZ_TARGET_NAMES);
  for (std::string name; std::getline(list, name, ',');) {
    if (!name.empty()) names.push_back(name);
  }
  return names;
}

std::vector<fs::path> keptInputs(const std::string& target, const char* kind) {
  std::vector<fs::path> files;
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(fs::path(OSTREL_FUZZ_DIR) / kind / target, ignored)) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string contents(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class FuzzReplay : public testing::TestWithParam<std::string> {};

// Every input the fuzzer found a fault with, and every seed, still passes the
// target's checks (a crash ends the test run with the file's name above it).
TEST_P(FuzzReplay, KeptInputsPassTheTargetsChecks) {
  const auto& name = GetParam();
  const auto target = registeredTargets().find(name);
  ASSERT_NE(target, registeredTargets().end()) << name << " is not compiled into the replay";
  const auto seeds = keptInputs(name, "corpus");
  EXPECT_FALSE(seeds.empty()) << "no seed corpus for " << name;
  for (const char* kind : {"corpus", "regressions"}) {
    for (const auto& file : keptInputs(name, kind)) {
      std::fprintf(stderr, "replaying %s\n", file.c_str());
      target->second(contents(file));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzReplay, testing::ValuesIn(targetNames()),
                         [](const testing::TestParamInfo<std::string>& info) { return info.param; });

}  // namespace
}  // namespace ostrel::fuzz
