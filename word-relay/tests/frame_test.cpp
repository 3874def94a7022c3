#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>

#include <cerrno>
#include <fstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "word-relay/command_line.h"
#include "word-relay/tests/relay_fixture.h"
#include "word-relay/word_scripts.h"

namespace ostrel::word {
namespace {

using nlohmann::json;
using testing::failure;

class FrameTest : public testing::RelayFixture {};

// While it lives, processes orphaned below this one are re-parented to it,
// so that whatever word-relay leaves behind can be waited for here.
class OrphanReaper {
 public:
  OrphanReaper() { ::prctl(PR_SET_CHILD_SUBREAPER, 1); }
  OrphanReaper(const OrphanReaper&) = delete;
  OrphanReaper& operator=(const OrphanReaper&) = delete;
  ~OrphanReaper() {
    for (pid_t pid : leftBehind_) {
      ::kill(pid, SIGKILL);
      ended(pid, std::chrono::seconds(2));
    }
    ::prctl(PR_SET_CHILD_SUBREAPER, 0);
  }

  // Whether `pid` ends within the time-out: reaped here, or gone or a zombie
  // elsewhere. One that does not is killed when the reaper goes.
  bool ended(pid_t pid, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
      const pid_t reaped = ::waitpid(pid, nullptr, WNOHANG);
      if (reaped == pid) return true;
      if (reaped < 0 && errno == ECHILD && !runs(pid)) return true;
      if (std::chrono::steady_clock::now() >= deadline) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    leftBehind_.push_back(pid);
    return false;
  }

 private:
  static bool runs(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    const size_t state = text.rfind(") ");
    return state != std::string::npos && state + 2 < text.size() && text[state + 2] != 'Z';
  }

  std::vector<pid_t> leftBehind_;
};

TEST_F(FrameTest, ArgumentFailures) {
  const std::string setStampFlags = "set-stamp needs --path, --document-id, --version-id and --matter-id";
  struct Case {
    std::vector<std::string> arguments;
    json expected;
  };
  const Case cases[] = {
      {{}, failure("NO_COMMAND", "usage: word-relay frontmost|active-doc|save|prompt-save|activate|open|set-stamp|watch")},
      {{"Frontmost"}, failure("UNKNOWN_COMMAND", "unknown command Frontmost")},
      {{"--path", "open"}, failure("UNKNOWN_COMMAND", "unknown command --path")},
      {{"open"}, failure("NO_PATH", "open needs --path")},
      {{"open", "--path"}, failure("NO_PATH", "open needs --path")},
      {{"set-stamp", "--path", "/a", "--document-id", "d", "--version-id", "v"}, failure("NO_PATH", setStampFlags)},
      {{"set-stamp", "--document-id", "d", "--version-id", "v", "--matter-id", "m", "--session-id", "s"},
       failure("NO_PATH", setStampFlags)},
      {{"set-stamp", "--path", "/a", "--document-id", "d", "--version-id", "v", "--matter-id"},
       failure("NO_PATH", setStampFlags)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(run(c.arguments), c.expected) << ::testing::PrintToString(c.arguments);
  }
  EXPECT_TRUE(scriptKindsSent().empty());
}

TEST_F(FrameTest, CommandsThatNeedWordSayItIsNotRunningWithoutScripting) {
  wordQuits();
  const std::vector<std::vector<std::string>> commands = {
      {"active-doc"},
      {"save"},
      {"activate"},
      {"prompt-save"},
      {"set-stamp", "--path", "/a", "--document-id", "d", "--version-id", "v", "--matter-id", "m"},
  };
  for (const auto& arguments : commands) {
    EXPECT_EQ(run(arguments), failure("WORD_NOT_RUNNING", "Microsoft Word is not running")) << arguments[0];
  }
  EXPECT_TRUE(scriptKindsSent().empty());
}

TEST_F(FrameTest, AppleScriptErrorsMapToWordFailures) {
  const std::string automation =
      "Ostrel is not allowed to control Microsoft Word. Grant it under System Settings \u2192 Privacy & Security "
      "\u2192 Automation.";
  const std::string busy = "Word didn't respond \u2014 it may be showing a dialog. Dismiss it and try again.";
  struct Case {
    json error;
    json expected;
  };
  const Case cases[] = {
      {{{"number", -1743}, {"message", "Not authorized"}}, failure("AUTOMATION_DENIED", automation)},
      {{{"number", -1744}, {"message", "Consent required"}}, failure("AUTOMATION_DENIED", automation)},
      {{{"number", -1728}, {"message", "Can\u2019t get active document."}}, failure("NO_DOCUMENT", "Word has no document open")},
      {{{"number", -1712}, {"message", "AppleEvent timed out."}}, failure("WORD_BUSY", busy)},
      {{{"number", -1708}, {"message", "doesn\u2019t understand"}},
       failure("COMMAND_REFUSED", "Word refused the command. Check it has a document open and no dialog waiting.")},
      {{{"number", -600}, {"message", "Application isn\u2019t running."}},
       failure("WORD_NOT_RUNNING", "Microsoft Word is not running")},
      {{{"number", -609}, {"message", "Connection is invalid."}},
       failure("WORD_NOT_RUNNING", "Microsoft Word is not running")},
      {{{"number", -2700}, {"message", "Word hiccuped (twice)."}}, failure("SCRIPT_FAILED", "Word hiccuped (twice). (-2700)")},
      {{{"number", 0}, {"message", "Zero"}}, failure("SCRIPT_FAILED", "Zero (0)")},
      {{{"message", "No number at all"}}, failure("SCRIPT_FAILED", "No number at all (0)")},
      {{{"number", -10004}}, failure("SCRIPT_FAILED", "AppleScript failed (-10004)")},
      {{{"stderr", ""}}, failure("SCRIPT_FAILED", "AppleScript failed (0)")},
  };
  for (const auto& c : cases) {
    json state = word();
    state["errors"] = {{"active_doc", c.error}};
    setWord(state);
    EXPECT_EQ(run({"active-doc"}), c.expected) << c.error.dump();
  }
}

TEST_F(FrameTest, AScriptThatDoesNotCompileIsInvalid) {
  json state = word();
  state["syntax_errors"] = {"active_doc"};
  setWord(state);
  EXPECT_EQ(run({"active-doc"}), failure("SCRIPT_INVALID", "could not compile the AppleScript"));
}

TEST_F(FrameTest, ARepliesWithFewerThanFiveFieldsIsUnexpected) {
  json state = word();
  state["replies"] = {{"active_doc", "Brief.docx\ttrue\t/p"}};
  setWord(state);
  EXPECT_EQ(run({"active-doc"}), failure("SCRIPT_FAILED", "unexpected reply from Word: Brief.docx\ttrue\t/p"));
}

TEST_F(FrameTest, TerminationSignalsEndAWatchWithStatusZero) {
  for (int signal : {SIGTERM, SIGINT}) {
    testing::RunningRelay relay = start({"watch"});
    ASSERT_EQ(relay.nextObject(), json({{"event", "hello"}}));
    ASSERT_TRUE(relay.nextObject().has_value());
    relay.signal(signal);
    EXPECT_EQ(relay.waitForExit(), 0) << "signal " << signal;
  }
}

TEST_F(FrameTest, StoppingEndsTheScriptInProgressAndWhatItStarted) {
  const std::vector<std::string> stamp = {"set-stamp", "--path", "/Users/p/Matters/Brief.docx", "--document-id", "d",
                                          "--version-id", "v", "--matter-id", "m"};
  struct Case {
    std::vector<std::string> arguments;
    std::string hangingScript;
    int signal;
  };
  const Case cases[] = {
      {{"active-doc"}, "active_doc", SIGTERM},
      {stamp, "set_stamp", SIGINT},
      {{"prompt-save"}, "keystroke", SIGTERM},
      // A poll for the Save dialog in progress.
      {{"prompt-save"}, "sheet_count", SIGINT},
  };
  OrphanReaper reaper;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.hangingScript);
    startAfresh();
    json state = word();
    state["hangs"] = {c.hangingScript};
    setWord(state);
    testing::RunningRelay relay = start(c.arguments);
    const std::vector<pid_t> hung = hungScript();
    ASSERT_EQ(hung.size(), 2u) << "the script never ran";

    relay.signal(c.signal);
    EXPECT_EQ(relay.waitForExit(), 0);
    EXPECT_EQ(relay.nextObject(std::chrono::seconds(2)), std::nullopt) << "a stopped command prints nothing";
    EXPECT_TRUE(reaper.ended(hung[0], std::chrono::seconds(5))) << "osascript goes on";
    EXPECT_TRUE(reaper.ended(hung[1], std::chrono::seconds(5))) << "what osascript started goes on";
  }
}

TEST_F(FrameTest, AWatchWhoseReaderHasGoneEndsWithStatusZero) {
  testing::RunningRelay relay = start({"watch"});
  ASSERT_TRUE(relay.nextObject().has_value());
  ASSERT_TRUE(relay.nextObject().has_value());
  relay.closeOutput();
  appendActivation(R"({"application":{"bundle_id":"com.apple.finder"}})");
  EXPECT_EQ(relay.waitForExit(), 0);
}

TEST(EscapeForAppleScriptTest, BackslashesThenQuotes) {
  EXPECT_EQ(escapeForAppleScript("a\\\"b"), "a\\\\\\\"b");
  EXPECT_EQ(escapeForAppleScript("\\\\"), "\\\\\\\\");
  EXPECT_EQ(escapeForAppleScript("tab\there \u00ab\u201c\u00bb"), "tab\there \u00ab\u201c\u00bb");
}

TEST(FlagTest, TheArgumentAfterTheFirstFlagAnywhere) {
  const std::vector<std::string> arguments = {"--path", "set-stamp", "--path", "second", "--id", "--path", "--last"};
  EXPECT_EQ(flag(arguments, "path"), "set-stamp");
  EXPECT_EQ(flag(arguments, "id"), "--path");
  EXPECT_EQ(flag(arguments, "last"), std::nullopt);
  EXPECT_EQ(flag(arguments, "absent"), std::nullopt);
  EXPECT_EQ(flag({"open", "-path", "x"}, "path"), std::nullopt);
}

}  // namespace
}  // namespace ostrel::word
