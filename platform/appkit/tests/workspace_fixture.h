#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

namespace ostrel::testing {

// A fresh $OSTREL_HOME per test, so that the workspace stand-in starts empty.
class WorkspaceFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/workspace-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    home = pattern;
    ::setenv("OSTREL_HOME", home.c_str(), 1);
    std::filesystem::create_directories(workspaceRoot());
  }
  void TearDown() override { std::filesystem::remove_all(home); }

  std::filesystem::path workspaceRoot() const { return home / "Workspace"; }

  void write(const std::string& relative, const std::string& text) const {
    std::filesystem::path target = workspaceRoot() / relative;
    std::filesystem::create_directories(target.parent_path());
    std::filesystem::path temporary = target.string() + ".writing";
    std::ofstream(temporary, std::ios::binary) << text;
    std::filesystem::rename(temporary, target);
  }
  void append(const std::string& relative, const std::string& text) const {
    std::ofstream(workspaceRoot() / relative, std::ios::binary | std::ios::app) << text;
  }
  std::string read(const std::string& relative) const {
    std::ifstream in(workspaceRoot() / relative, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  // Polls `condition` for up to five seconds.
  static bool eventually(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
      if (condition()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return condition();
  }

  std::filesystem::path home;
};

}  // namespace ostrel::testing
