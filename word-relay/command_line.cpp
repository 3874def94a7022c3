#include "word-relay/command_line.h"

#include <algorithm>

#include "word-relay/document_commands.h"
#include "word-relay/foreground_watch.h"
#include "word-relay/relay_output.h"
#include "word-relay/stamping.h"

namespace ostrel::word {

std::optional<std::string> flag(const std::vector<std::string>& arguments, std::string_view name) {
  const std::string wanted = "--" + std::string(name);
  auto it = std::ranges::find(arguments, wanted);
  if (it == arguments.end() || std::next(it) == arguments.end()) return std::nullopt;
  return *std::next(it);
}

namespace {

Outcome setStamp(const std::vector<std::string>& arguments, const Workspace& workspace) {
  auto path = flag(arguments, "path");
  auto documentID = flag(arguments, "document-id");
  auto versionID = flag(arguments, "version-id");
  auto matterID = flag(arguments, "matter-id");
  if (!path || !documentID || !versionID || !matterID) return std::unexpected(failures::setStampNeedsFlags());
  return cmdSetStamp(workspace, {.path = *path,
                                 .documentID = *documentID,
                                 .versionID = *versionID,
                                 .matterID = *matterID,
                                 .sessionID = flag(arguments, "session-id").value_or("")});
}

Outcome dispatch(const std::vector<std::string>& arguments, Workspace& workspace) {
  if (arguments.empty()) return std::unexpected(failures::noCommand());
  const std::string& command = arguments.front();
  if (command == "frontmost") return cmdFrontmost(workspace);
  if (command == "activate") return cmdActivate(workspace);
  if (command == "active-doc") return cmdActiveDoc(workspace);
  if (command == "save") return cmdSave(workspace);
  if (command == "prompt-save") return cmdPromptSave(workspace);
  if (command == "open") {
    auto path = flag(arguments, "path");
    if (!path) return std::unexpected(failures::openNeedsPath());
    return cmdOpen(workspace, *path);
  }
  if (command == "set-stamp") return setStamp(arguments, workspace);
  if (command == "watch") return std::unexpected(cmdWatch(workspace));
  return std::unexpected(failures::unknownCommand(command));
}

}  // namespace

void runCommand(const std::vector<std::string>& arguments, Workspace& workspace) {
  auto outcome = dispatch(arguments, workspace);
  emit(outcome ? *outcome : failureObject(outcome.error()));
}

}  // namespace ostrel::word
