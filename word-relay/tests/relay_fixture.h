#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/foundation/json.h"

namespace ostrel::word::testing {

using Environment = std::vector<std::pair<std::string, std::string>>;

// A word-relay process started by a test, with its standard output on a
// pipe. Dropping it kills the process if it still runs.
class RunningRelay {
 public:
  RunningRelay(pid_t pid, int output) : pid_(pid), output_(output) {}
  RunningRelay(RunningRelay&& other) noexcept;
  RunningRelay& operator=(RunningRelay&&) = delete;
  RunningRelay(const RunningRelay&) = delete;
  RunningRelay& operator=(const RunningRelay&) = delete;
  ~RunningRelay();

  // The next line of output, parsed; absent at end of output or time-out.
  std::optional<json::Value> nextObject(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  void signal(int signal) const;
  // The read end goes away, as when the desktop application stops reading.
  void closeOutput();
  // The exit status, or -1 after a signal; absent on time-out.
  std::optional<int> waitForExit(std::chrono::milliseconds timeout = std::chrono::seconds(10));

 private:
  pid_t pid_ = -1;
  int output_ = -1;
  std::string buffered_;
};

// Every test gets its own $OSTREL_HOME with the workspace stand-in, and a
// fake osascript playing Word from a state file. Word runs by default, with
// one clean document saved on disk.
class RelayFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // For table cases that each need an untouched home.
  void startAfresh() {
    TearDown();
    SetUp();
  }

  void setWord(const json::Value& state) const;
  json::Value word() const;
  // The kinds of the scripts Word received ("active_doc", "save", ...).
  std::vector<std::string> scriptKindsSent() const;
  // The pids of a hung script and of the helper it started, once it hangs
  // (see "hangs" in fake_osascript.py); empty on time-out.
  std::vector<pid_t> hungScript(std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

  void writeWorkspace(const std::string& relative, const json::Value& content) const;
  json::Value readWorkspace(const std::string& relative) const;
  void appendActivation(const std::string& line) const;
  void wordQuits() const;

  RunningRelay start(const std::vector<std::string>& arguments, const Environment& extra = {}) const;
  // Runs to the end; the one object printed. Fails the test unless exactly
  // one line came and the status was 0.
  json::Value run(const std::vector<std::string>& arguments, const Environment& extra = {}) const;

  std::filesystem::path root;
  std::filesystem::path home;
};

// {"ok": false, "code": …, "error": …}
json::Value failure(const std::string& code, const std::string& message);

inline constexpr const char* deadlineHook = "OSTREL_TEST_HOOK_SAVE_DIALOG_DEADLINE_MS";
inline constexpr const char* openTimeoutHook = "OSTREL_TEST_HOOK_OPEN_TIMEOUT_MS";

}  // namespace ostrel::word::testing
