#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <asio/io_context.hpp>
#include <asio/posix/stream_descriptor.hpp>

#include "platform/appkit/workspace.h"
#include "platform/foundation/error.h"

// The files of the workspace stand-in under $OSTREL_HOME/Workspace; their
// format is the contract in docs/platform.md.
namespace ostrel::appkit_linux {

namespace fs = std::filesystem;

struct WorkspaceFiles {
  fs::path root;

  fs::path running() const { return root / "running.json"; }
  fs::path frontmost() const { return root / "frontmost.json"; }
  fs::path installed() const { return root / "applications.json"; }
  fs::path activations() const { return root / "activations.jsonl"; }
  fs::path openRequests() const { return root / "open-requests"; }
  fs::path openAnswers() const { return root / "open-answers"; }
  fs::path openRequest(const std::string& id) const { return openRequests() / (id + ".json"); }
  fs::path openAnswer(const std::string& id) const { return openAnswers() / (id + ".json"); }
};

// A missing or unreadable file, or one that is not an array, lists nothing;
// entries that are not objects are skipped.
std::vector<RunningApplication> readApplications(const fs::path& file);
// A missing file, null or anything but an object is no application.
std::optional<RunningApplication> readApplication(const fs::path& file);

// One line of the activation log: absent when the line is not a JSON object
// (not an activation at all); otherwise the application it carries, if any.
std::optional<std::optional<RunningApplication>> parseActivation(std::string_view line);
std::string activationLine(const std::optional<RunningApplication>& application);
std::string applicationJSON(const RunningApplication& application);

std::string openRequestJSON(const std::vector<std::string>& urls, const fs::path& application,
                            const OpenConfiguration& configuration);
// Absent until the answer file holds a JSON object.
std::optional<std::expected<void, Error>> readOpenAnswer(const fs::path& file);

// Readers never see a half-written file: the text goes to a hidden
// temporary beside it that is then renamed over it.
std::expected<void, Error> writeFileAtomically(const fs::path& file, std::string_view text);
// One write, so that concurrent appenders do not interleave within a line.
std::expected<void, Error> appendLine(const fs::path& file, std::string_view line);

// An inotify instance watching `directory` for `mask`, owned by a descriptor
// on `queue`; it becomes readable whenever something happens there.
std::expected<asio::posix::stream_descriptor, Error> watchDirectory(asio::io_context& queue, const fs::path& directory,
                                                                    uint32_t mask);

}  // namespace ostrel::appkit_linux
