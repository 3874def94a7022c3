#pragma once

#include <expected>

#include <asio/io_context.hpp>

#include "platform/appkit/workspace.h"
#include "platform/appkit/workspace_files_linux.h"

namespace ostrel::appkit_linux {

// Activation notifications of the stand-in: lines appended to
// activations.jsonl, delivered on `queue`.
std::expected<ActivationObservation, Error> observeActivationLog(asio::io_context& queue, const WorkspaceFiles& files,
                                                                 ActivationHandler handler);

}  // namespace ostrel::appkit_linux
