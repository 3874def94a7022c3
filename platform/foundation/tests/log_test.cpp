#include "platform/foundation/log.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/foundation/testing/log_capture.h"

namespace ostrel {
namespace {

TEST(FormatLogMessageTest, ExpandsEachConversionInTurn) {
  struct Case {
    const char* format;
    std::vector<LogArg> args;
    std::string expected;
  };
  const Case cases[] = {
      {"%{public}s %{public}s status=%{public}ld", {"GET", "items", 404L}, "GET items status=404"},
      {"host attached pid=%{public}d", {1234}, "host attached pid=1234"},
      {"undecodable %{public}s: %{public}s", {"", "keyNotFound"}, "undecodable : keyNotFound"},
      {"100%% done %s", {"now"}, "100% done now"},
      {"missing %{public}s", {}, "missing <missing>"},
      {"plain text", {}, "plain text"},
      {"negative %lld", {-5LL}, "negative -5"},
  };
  for (const auto& c : cases) EXPECT_EQ(formatLogMessage(c.format, c.args), c.expected) << c.format;
}

TEST(LoggerTest, CaptureSeesLevelSubsystemAndCategory) {
  testing::LogCapture capture;
  Logger logger("local.ostrel.desktop.drive", "extension");
  logger.notice("state %{public}s", {"ready"});
  logger.error("failed %{public}ld", {500L});
  logger.fault("bad %{public}s", {"config"});
  auto records = capture.records();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].subsystem, "local.ostrel.desktop.drive");
  EXPECT_EQ(records[0].category, "extension");
  EXPECT_EQ(capture.messages(LogLevel::Default), std::vector<std::string>{"state ready"});
  EXPECT_EQ(capture.messages(LogLevel::Error), std::vector<std::string>{"failed 500"});
  EXPECT_EQ(capture.messages(LogLevel::Fault), std::vector<std::string>{"bad config"});
}

TEST(LoggerTest, DefaultSinkAppendsToTheLogFileUnderOstrelHome) {
  auto home = std::filesystem::temp_directory_path() / ("ostrel-log-test-" + std::to_string(getpid()));
  std::filesystem::remove_all(home);
  const char* old = std::getenv("OSTREL_HOME");
  std::string saved = old ? old : "";
  setenv("OSTREL_HOME", home.c_str(), 1);
  auto previous = setLogSink(nullptr);  // a fresh default sink

  Logger("local.ostrel.test", "unit").error("written %{public}d", {7});

  setLogSink(previous);
  if (old) setenv("OSTREL_HOME", saved.c_str(), 1); else unsetenv("OSTREL_HOME");
  std::ifstream file(home / "Logs" / "local.ostrel.test.log");
  std::stringstream text;
  text << file.rdbuf();
  EXPECT_NE(text.str().find("local.ostrel.test[unit] error: written 7\n"), std::string::npos) << text.str();
  std::filesystem::remove_all(home);
}

TEST(LoggerTest, ArgumentsFromOutsideCannotForgeRecords) {
  struct Case {
    std::string argument;
    std::string written;
  };
  const std::vector<Case> cases = {
      {"doc:1\n2026-01-01T00:00:00.000Z local.ostrel.test[unit] fault: forged",
       "doc:1\\n2026-01-01T00:00:00.000Z local.ostrel.test[unit] fault: forged"},
      {"doc:\x1b[31mred\x1b[0m", "doc:\\u001b[31mred\\u001b[0m"},
      {"a\rb\tc\x01" "d\x7f", "a\\rb\\tc\\u0001d\\u007f"},
      {"Caf\xc3\xa9 \\n", "Caf\xc3\xa9 \\n"},
  };
  auto home = std::filesystem::temp_directory_path() / ("ostrel-log-escape-test-" + std::to_string(getpid()));
  std::filesystem::remove_all(home);
  const char* old = std::getenv("OSTREL_HOME");
  std::string saved = old ? old : "";
  setenv("OSTREL_HOME", home.c_str(), 1);
  // Standard error goes to a file for the while.
  const auto errors = home / "stderr";
  std::filesystem::create_directories(home);
  std::fflush(stderr);
  const int kept = ::dup(STDERR_FILENO);
  const int redirected = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ::dup2(redirected, STDERR_FILENO);
  auto previous = setLogSink(nullptr);
  for (const auto& c : cases) Logger("local.ostrel.escape", "unit").error("item %{public}s", {c.argument});
  setLogSink(previous);
  std::fflush(stderr);
  ::dup2(kept, STDERR_FILENO);
  ::close(kept);
  ::close(redirected);
  if (old) setenv("OSTREL_HOME", saved.c_str(), 1); else unsetenv("OSTREL_HOME");

  for (const auto& file : {home / "Logs" / "local.ostrel.escape.log", errors}) {
    std::ifstream in(file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), cases.size()) << file;
    for (size_t i = 0; i < cases.size(); ++i)
      EXPECT_TRUE(lines[i].ends_with("local.ostrel.escape[unit] error: item " + cases[i].written)) << lines[i];
  }
  std::filesystem::remove_all(home);
}

}  // namespace
}  // namespace ostrel
