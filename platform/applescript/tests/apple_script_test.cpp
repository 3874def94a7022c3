#include "platform/applescript/apple_script.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace ostrel {
namespace {

namespace fs = std::filesystem;

// Stands in for osascript: each test writes the shell script that plays it.
class AppleScriptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/applescript-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    directory = pattern;
  }
  void TearDown() override { fs::remove_all(directory); }

  fs::path installCommand(const std::string& name, const std::string& body) {
    fs::path path = directory / name;
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    fs::permissions(path, fs::perms::owner_all);
    return path;
  }
  void useOsascript(const std::string& body) {
    ::setenv("OSTREL_OSASCRIPT", installCommand("fake-osascript", body).c_str(), 1);
  }

  fs::path directory;
};

TEST_F(AppleScriptTest, ResultIsStandardOutputWithoutItsFinalLineFeed) {
  struct Case {
    std::string printed;
    std::string result;
  };
  const Case cases[] = {
      {"printf 'hello\\n'", "hello"},
      {"printf 'a\\n\\n'", "a\n"},
      {"printf 'no line feed'", "no line feed"},
      {"true", ""},
      {"printf 'ok\\n'; echo 'a log line' >&2", "ok"},
  };
  for (const auto& c : cases) {
    useOsascript(c.printed);
    auto result = AppleScript("return 1").execute();
    ASSERT_TRUE(result) << c.printed << ": " << result.error().localizedDescription();
    EXPECT_EQ(*result, c.result) << c.printed;
  }
}

TEST_F(AppleScriptTest, FailuresAreReadFromStandardError) {
  struct Case {
    std::string standardError;
    AppleScriptError::Code code;
    std::optional<long> number;
    std::optional<std::string> message;
  };
  const Case cases[] = {
      {"0:40: execution error: Microsoft Word got an error: Can\u2019t get document 1. (-1728)",
       AppleScriptError::executionFailed, -1728, "Microsoft Word got an error: Can\u2019t get document 1."},
      {"58:61: syntax error: Expected end of line but found identifier. (-2741)", AppleScriptError::compileFailed,
       -2741, "Expected end of line but found identifier."},
      {"logged first\n0:5: execution error: Boom (twice) (-2700)", AppleScriptError::executionFailed, -2700,
       "Boom (twice)"},
      {"0:3: execution error: no number here", AppleScriptError::executionFailed, std::nullopt, "no number here"},
      {"0:3: execution error:  (-1712)", AppleScriptError::executionFailed, -1712, std::nullopt},
      {"", AppleScriptError::executionFailed, std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    std::ofstream(directory / "stderr.txt") << c.standardError << "\n";
    useOsascript("cat >/dev/null; cat '" + (directory / "stderr.txt").string() + "' >&2; exit 1");
    auto result = AppleScript("x").execute();
    ASSERT_FALSE(result) << c.standardError;
    EXPECT_EQ(result.error().domain, AppleScriptError::domain);
    EXPECT_EQ(result.error().code, c.code) << c.standardError;
    EXPECT_EQ(AppleScriptError::number(result.error()), c.number) << c.standardError;
    EXPECT_EQ(AppleScriptError::message(result.error()), c.message) << c.standardError;
  }
}

TEST_F(AppleScriptTest, AChildKilledBySignalIsAnExecutionFailure) {
  useOsascript("kill -9 $$");
  auto result = AppleScript("x").execute();
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().code, AppleScriptError::executionFailed);
  EXPECT_EQ(AppleScriptError::number(result.error()), std::nullopt);
}

TEST_F(AppleScriptTest, SourceArrivesOnStandardInputByteForByte) {
  useOsascript("cat");
  const std::string source =
      "tell application \"Microsoft Word\"\n    repeat with pair in {{\"a\", \"\u201cb\u201d\"}, \u00ac\n"
      "        {\"c\", \"d\\\\\"}}\n    end repeat\nend tell";
  auto echoed = AppleScript(source).execute();
  ASSERT_TRUE(echoed);
  EXPECT_EQ(*echoed, source);
}

TEST_F(AppleScriptTest, LargeSourcesAndOutputsDoNotDeadlock) {
  useOsascript("cat");
  std::string source(1 << 20, 'x');
  source += "end";
  auto echoed = AppleScript(source).execute();
  ASSERT_TRUE(echoed);
  EXPECT_EQ(echoed->size(), source.size());
}

TEST_F(AppleScriptTest, ACommandThatNeverReadsItsInputStillAnswers) {
  // Writing to a reader that has gone must not raise SIGPIPE in this process.
  useOsascript("printf 'early'; exit 0");
  auto result = AppleScript(std::string(4 << 20, 'x')).execute();
  ASSERT_TRUE(result) << result.error().localizedDescription();
  EXPECT_EQ(*result, "early");
}

TEST_F(AppleScriptTest, TheCommandGetsSignalsItsParentBlockedOrIgnored) {
  sigset_t blocked, previous;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGTERM);
  sigaddset(&blocked, SIGINT);
  ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &blocked, &previous), 0);
  auto previousPipe = ::signal(SIGPIPE, SIG_IGN);

  useOsascript("grep -E '^Sig(Blk|Ign):' /proc/self/status");
  auto status = AppleScript("x").execute();

  ::signal(SIGPIPE, previousPipe);
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  ASSERT_TRUE(status);
  std::istringstream lines(*status);
  std::string line;
  while (std::getline(lines, line)) {
    const unsigned long mask = std::stoul(line.substr(line.find(':') + 1), nullptr, 16);
    for (int signal : {SIGTERM, SIGINT, SIGPIPE}) {
      EXPECT_EQ(mask & (1ul << (signal - 1)), 0u) << line << " signal " << signal;
    }
  }
}

TEST_F(AppleScriptTest, AMissingCommandIsAnExecutionFailureNamingIt) {
  ::setenv("OSTREL_OSASCRIPT", (directory / "absent").c_str(), 1);
  auto result = AppleScript("x").execute();
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().code, AppleScriptError::executionFailed);
  EXPECT_EQ(AppleScriptError::number(result.error()), std::nullopt);
  EXPECT_NE(AppleScriptError::message(result.error()).value_or("").find("could not run " + (directory / "absent").string()),
            std::string::npos);
}

TEST_F(AppleScriptTest, WithoutTheVariableOsascriptIsFoundOnPath) {
  installCommand("osascript", "printf 'from path'");
  ::unsetenv("OSTREL_OSASCRIPT");
  const std::string previousPath = std::getenv("PATH") ? std::getenv("PATH") : "";
  ::setenv("PATH", (directory.string() + ":" + previousPath).c_str(), 1);
  auto result = AppleScript("x").execute();
  ::setenv("PATH", previousPath.c_str(), 1);
  ASSERT_TRUE(result) << result.error().localizedDescription();
  EXPECT_EQ(*result, "from path");
}

}  // namespace
}  // namespace ostrel
