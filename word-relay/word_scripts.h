#pragma once

#include <expected>
#include <string>
#include <string_view>

#include "platform/appkit/workspace.h"
#include "platform/foundation/error.h"
#include "word-relay/failures.h"

namespace ostrel::word {

// The state of Word's active document, as the active-document script
// reports it.
struct ActiveDoc {
  std::string name;
  bool saved = false;         // no unsaved changes
  std::string path;           // POSIX path; empty when none could be had
  bool hasPath = false;       // Word reports a location: it was saved somewhere
  std::string rawLocation;    // the folder, or an address for documents stored online
};

extern const std::string_view activeDocScript;

// For a value placed between double quotes in an AppleScript source.
std::string escapeForAppleScript(std::string_view value);

// Runs a script against Word; AppleScript errors become Word's failures.
std::expected<std::string, Failure> runAppleScript(std::string source);
Failure failureForScriptError(const Error& error);

std::expected<ActiveDoc, Failure> activeDoc(const Workspace& workspace);
// Fields are taken by position, so a tab in the name shifts them.
std::expected<ActiveDoc, Failure> parseActiveDocReply(std::string_view reply);

}  // namespace ostrel::word
