#include "word-relay/document_commands.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <semaphore>
#include <thread>

#include "platform/applescript/apple_script.h"
#include "platform/foundation/text.h"
#include "word-relay/test_hooks.h"
#include "word-relay/word_application.h"
#include "word-relay/word_scripts.h"

namespace ostrel::word {

namespace {

using namespace std::chrono_literals;

constexpr std::string_view saveScript = R"script(tell application "Microsoft Word"
    if (count of documents) = 0 then return "NONE"
    save active document
end tell
return "OK")script";

constexpr std::string_view keystrokeScript =
    R"script(tell application "System Events" to keystroke "s" using {command down})script";

constexpr std::string_view sheetCountScript = R"script(tell application "System Events" to tell process "Microsoft Word"
    return count of sheets of front window
end tell)script";

constexpr auto activationSettle = 600ms;
constexpr auto saveDialogPollInterval = 1000ms;
constexpr auto saveDialogDeadline = std::chrono::milliseconds(300s);
constexpr auto openCompletionTimeout = std::chrono::milliseconds(60s);

// A document Word says was saved somewhere but whose file we cannot name.
std::optional<Failure> unreadableLocation(const ActiveDoc& doc) {
  if (!doc.hasPath || !doc.path.empty()) return std::nullopt;
  if (lowercased(doc.rawLocation).starts_with("http")) return failures::cloudDocument(doc.name, doc.rawLocation);
  return failures::pathUnresolved(doc.name);
}

// NSString's intValue: leading blanks, an optional sign, digits; 0 when
// there are none, clamped to 32 bits.
int intValue(std::string_view text) {
  size_t i = text.find_first_not_of(" \t\n\r");
  if (i == std::string_view::npos) return 0;
  bool negative = false;
  if (text[i] == '+' || text[i] == '-') negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = std::min<long long>(value * 10 + (text[i] - '0'), 1ll << 32);
  }
  value = negative ? -value : value;
  return static_cast<int>(std::clamp<long long>(value, INT32_MIN, INT32_MAX));
}

int saveDialogSheetCount() {
  auto reply = AppleScript(std::string(sheetCountScript)).execute();
  return reply ? intValue(*reply) : 0;
}

// Command-S to the front application. A script that does not compile sends
// nothing, and the wait for the dialog goes on regardless.
std::expected<void, Failure> pressCommandS() {
  auto sent = AppleScript(std::string(keystrokeScript)).execute();
  if (sent || sent.error().is(AppleScriptError::domain, AppleScriptError::compileFailed)) return {};
  const long number = AppleScriptError::number(sent.error()).value_or(0);
  if (number == -1743 || number == -1744) return std::unexpected(failures::keystrokeNeedsAccessibility());
  return std::unexpected(failures::saveFailed(AppleScriptError::message(sent.error()).value_or("")));
}

}  // namespace

Outcome cmdFrontmost(const Workspace& workspace) {
  OutputObject fields = applicationFields(workspace.frontmostApplication());
  fields.emplace_back("word_running", !workspace.runningApplications(wordBundleID).empty());
  return succeeded(std::move(fields));
}

Outcome cmdActivate(const Workspace& workspace) {
  auto instances = workspace.runningApplications(wordBundleID);
  if (instances.empty()) return std::unexpected(failures::wordNotRunning());
  return OutputObject{{"ok", workspace.activate(instances.front(), 0)}};
}

Outcome cmdActiveDoc(const Workspace& workspace) {
  auto doc = activeDoc(workspace);
  if (!doc) return std::unexpected(doc.error());
  if (auto unreadable = unreadableLocation(*doc)) return std::unexpected(*unreadable);
  return succeeded({{"name", doc->name}, {"path", doc->path}, {"saved", doc->saved}, {"has_path", doc->hasPath}});
}

Outcome cmdSave(const Workspace& workspace) {
  auto doc = activeDoc(workspace);
  if (!doc) return std::unexpected(doc.error());
  // A document stored online has no path either, and lands here too.
  if (doc->path.empty()) return std::unexpected(failures::neverSaved());
  bool savedNow = false;
  if (!doc->saved) {
    auto reply = runAppleScript(std::string(saveScript));
    if (!reply) return std::unexpected(reply.error());
    if (*reply == "NONE") return std::unexpected(failures::noDocument());
    savedNow = true;
  }
  return succeeded({{"path", doc->path}, {"saved_now", savedNow}});
}

Outcome cmdPromptSave(const Workspace& workspace) {
  auto instances = workspace.runningApplications(wordBundleID);
  if (instances.empty()) return std::unexpected(failures::wordNotRunning());
  workspace.activate(instances.front(), 0);
  std::this_thread::sleep_for(activationSettle);
  if (auto pressed = pressCommandS(); !pressed) return std::unexpected(pressed.error());

  const auto deadline = std::chrono::steady_clock::now() +
                        shortenedByTestHook("OSTREL_TEST_HOOK_SAVE_DIALOG_DEADLINE_MS", saveDialogDeadline);
  bool dialogSeen = false;
  while (std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(saveDialogPollInterval);
    const int sheets = saveDialogSheetCount();
    if (sheets > 0) dialogSeen = true;
    auto doc = activeDoc(workspace);
    if (!doc) return std::unexpected(doc.error());
    if (doc->hasPath) {
      // Saved to OneDrive or somewhere unreadable: no path to hand back.
      if (auto unreadable = unreadableLocation(*doc)) return std::unexpected(*unreadable);
      return succeeded({{"path", doc->path}, {"saved_now", true}});
    }
    if (dialogSeen && sheets == 0) return std::unexpected(failures::cancelled());
  }
  return std::unexpected(dialogSeen ? failures::saveDialogStillOpen() : failures::saveDialogNeverAppeared());
}

Outcome cmdOpen(Workspace& workspace, const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) return std::unexpected(failures::noSuchFile(path));
  auto word = workspace.urlForApplication(wordBundleID);
  if (!word) return std::unexpected(failures::wordNotInstalled());

  // Shared with the completion, which may still come after we gave up.
  struct Completion {
    std::binary_semaphore done{0};
    std::expected<void, Error> result;
  };
  auto completion = std::make_shared<Completion>();
  workspace.openURLs({fileURLWithPath(path)}, *word, {.activates = true},
                     [completion](std::expected<void, Error> result) {
                       completion->result = std::move(result);
                       completion->done.release();
                     });
  if (!completion->done.try_acquire_for(shortenedByTestHook("OSTREL_TEST_HOOK_OPEN_TIMEOUT_MS", openCompletionTimeout))) {
    return std::unexpected(failures::openTimedOut());
  }
  if (!completion->result) return std::unexpected(failures::openFailed(completion->result.error().localizedDescription()));
  return succeeded({{"path", path}});
}

}  // namespace ostrel::word
