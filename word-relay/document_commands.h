#pragma once

#include <string>

#include "platform/appkit/workspace.h"
#include "word-relay/relay_output.h"

// The one-shot commands about Word and its active document.
namespace ostrel::word {

Outcome cmdFrontmost(const Workspace& workspace);
Outcome cmdActivate(const Workspace& workspace);
Outcome cmdActiveDoc(const Workspace& workspace);
Outcome cmdSave(const Workspace& workspace);
Outcome cmdPromptSave(const Workspace& workspace);
Outcome cmdOpen(Workspace& workspace, const std::string& path);

}  // namespace ostrel::word
