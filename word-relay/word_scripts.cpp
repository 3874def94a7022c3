#include "word-relay/word_scripts.h"

#include <vector>

#include "platform/applescript/apple_script.h"
#include "word-relay/word_application.h"

namespace ostrel::word {

const std::string_view activeDocScript = R"script(tell application "Microsoft Word"
    if (count of documents) = 0 then return "NONE"
    set d to active document
    set theName to name of d
    set wasSaved to saved of d
    set hasPath to (path of d) is not ""
    set thePath to ""
    try
        set fn to full name of d
        if fn starts with "/" then
            set thePath to fn
        else
            set thePath to POSIX path of (fn as alias)
        end if
    end try
    return theName & tab & (wasSaved as string) & tab & thePath & tab & (hasPath as string) & tab & (path of d)
end tell)script";

std::string escapeForAppleScript(std::string_view value) {
  std::string escaped;
  escaped.reserve(value.size());
  for (char c : value) {
    if (c == '\\' || c == '"') escaped += '\\';
    escaped += c;
  }
  return escaped;
}

Failure failureForScriptError(const Error& error) {
  if (error.is(AppleScriptError::domain, AppleScriptError::compileFailed)) return failures::scriptInvalid();
  const long number = AppleScriptError::number(error).value_or(0);
  switch (number) {
    case -1743:
    case -1744:
      return failures::automationDenied();
    case -1728:
      return failures::noDocument();
    case -1712:
      return failures::wordBusy();
    case -1708:
      return failures::commandRefused();
    case -600:
    case -609:
      return failures::wordNotRunning();
    default:
      return failures::scriptFailed(AppleScriptError::message(error).value_or("AppleScript failed"), number);
  }
}

std::expected<std::string, Failure> runAppleScript(std::string source) {
  auto result = AppleScript(std::move(source)).execute();
  if (!result) return std::unexpected(failureForScriptError(result.error()));
  return std::move(*result);
}

std::expected<ActiveDoc, Failure> parseActiveDocReply(std::string_view reply) {
  if (reply == "NONE") return std::unexpected(failures::noDocument());
  std::vector<std::string_view> pieces;
  for (size_t start = 0;;) {
    const size_t tab = reply.find('\t', start);
    pieces.push_back(reply.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start));
    if (tab == std::string_view::npos) break;
    start = tab + 1;
  }
  if (pieces.size() < 5) return std::unexpected(failures::unexpectedReply(reply));
  return ActiveDoc{
      .name = std::string(pieces[0]),
      .saved = pieces[1] == "true",
      .path = std::string(pieces[2]),
      .hasPath = pieces[3] == "true",
      .rawLocation = std::string(pieces[4]),
  };
}

std::expected<ActiveDoc, Failure> activeDoc(const Workspace& workspace) {
  if (auto running = requireWordRunning(workspace); !running) return std::unexpected(running.error());
  auto reply = runAppleScript(std::string(activeDocScript));
  if (!reply) return std::unexpected(reply.error());
  return parseActiveDocReply(*reply);
}

}  // namespace ostrel::word
