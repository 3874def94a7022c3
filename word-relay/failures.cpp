#include "word-relay/failures.h"

namespace ostrel::word::failures {

namespace {
std::string text(std::string_view value) { return std::string(value); }
}  // namespace

Failure noCommand() {
  return {"NO_COMMAND", "usage: word-relay frontmost|active-doc|save|prompt-save|activate|open|set-stamp|watch"};
}
Failure unknownCommand(std::string_view word) { return {"UNKNOWN_COMMAND", "unknown command " + text(word)}; }
Failure openNeedsPath() { return {"NO_PATH", "open needs --path"}; }
Failure setStampNeedsFlags() {
  return {"NO_PATH", "set-stamp needs --path, --document-id, --version-id and --matter-id"};
}
Failure wordNotRunning() { return {"WORD_NOT_RUNNING", "Microsoft Word is not running"}; }
Failure wordNotInstalled() { return {"WORD_NOT_INSTALLED", "Microsoft Word is not installed"}; }
Failure noDocument() { return {"NO_DOCUMENT", "Word has no document open"}; }
Failure cloudDocument(std::string_view name, std::string_view location) {
  return {"CLOUD_DOCUMENT", "\u201c" + text(name) + "\u201d is stored in OneDrive/SharePoint (" + text(location) + ")"};
}
Failure pathUnresolved(std::string_view name) {
  return {"PATH_UNRESOLVED", "Word reports a location for \u201c" + text(name) + "\u201d that Ostrel could not read"};
}
Failure neverSaved() {
  return {"NEVER_SAVED", "this document has never been saved \u2014 the partner must save it in Word first"};
}
Failure keystrokeNeedsAccessibility() {
  return {"ACCESSIBILITY_DENIED",
          "Ostrel needs Accessibility to open Word's Save dialog. Grant it under System Settings \u2192 Privacy & "
          "Security \u2192 Accessibility."};
}
Failure saveDialogNeverAppeared() {
  return {"ACCESSIBILITY_DENIED",
          "Word's Save dialog never appeared \u2014 Ostrel may not have Accessibility access."};
}
Failure saveFailed(std::string_view message) {
  return {"SAVE_FAILED", message.empty() ? "save failed" : text(message)};
}
Failure cancelled() { return {"CANCELLED", "the partner dismissed Word's Save dialog"}; }
Failure wordBusy() {
  return {"WORD_BUSY", "Word didn't respond \u2014 it may be showing a dialog. Dismiss it and try again."};
}
Failure saveDialogStillOpen() { return {"WORD_BUSY", "Word's Save dialog is still open"}; }
Failure commandRefused() {
  return {"COMMAND_REFUSED", "Word refused the command. Check it has a document open and no dialog waiting."};
}
Failure automationDenied() {
  return {"AUTOMATION_DENIED",
          "Ostrel is not allowed to control Microsoft Word. Grant it under System Settings \u2192 Privacy & "
          "Security \u2192 Automation."};
}
Failure scriptInvalid() { return {"SCRIPT_INVALID", "could not compile the AppleScript"}; }
Failure scriptFailed(std::string_view message, long number) {
  return {"SCRIPT_FAILED", text(message) + " (" + std::to_string(number) + ")"};
}
Failure unexpectedReply(std::string_view reply) {
  return {"SCRIPT_FAILED", "unexpected reply from Word: " + text(reply)};
}
Failure noSuchFile(std::string_view path) { return {"NO_SUCH_FILE", "no file at " + text(path)}; }
Failure openTimedOut() { return {"TIMEOUT", "Word did not open the file within 60s"}; }
Failure openFailed(std::string_view description) { return {"OPEN_FAILED", text(description)}; }
Failure notOpen(std::string_view path) { return {"NOT_OPEN", "Word does not have " + text(path) + " open"}; }
Failure watchFailed(std::string_view description) {
  return {"WATCH_FAILED", "could not follow the frontmost application: " + text(description)};
}

}  // namespace ostrel::word::failures
