#include "platform/foundation/log.h"

#include <gtest/gtest.h>
#include <stdlib.h>

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

}  // namespace
}  // namespace ostrel
