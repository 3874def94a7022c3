#pragma once

#include <expected>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <asio/io_context.hpp>

#include "platform/foundation/error.h"

namespace ostrel {

// One running application as the workspace describes it.
struct RunningApplication {
  std::optional<std::string> bundleIdentifier;
  std::optional<std::string> localizedName;
  std::optional<int> processIdentifier;
  std::optional<std::filesystem::path> bundleLocation;

  friend bool operator==(const RunningApplication&, const RunningApplication&) = default;
};

// NSApplicationActivationOptions.
enum ApplicationActivationOptions : unsigned {
  activateAllWindows = 1u << 0,
  activateIgnoringOtherApps = 1u << 1,
};

// NSWorkspaceOpenConfiguration, as far as the system uses it.
struct OpenConfiguration {
  bool activates = true;
};

// Called once, on a queue of the workspace's own, when the application has
// opened the files or failed to.
using OpenCompletion = std::function<void(std::expected<void, Error>)>;

// Called for every NSWorkspaceDidActivateApplicationNotification with the
// application under NSWorkspaceApplicationKey, or none when the
// notification carries no application.
using ActivationHandler = std::function<void(const std::optional<RunningApplication>&)>;

// Keeps an activation subscription alive; dropping it ends the delivery.
// Drop it on the queue the handler runs on, or while that queue is idle.
class ActivationObservation {
 public:
  struct State;
  explicit ActivationObservation(std::shared_ptr<State> state);
  ActivationObservation(ActivationObservation&&) noexcept;
  ActivationObservation& operator=(ActivationObservation&&) noexcept;
  ActivationObservation(const ActivationObservation&) = delete;
  ActivationObservation& operator=(const ActivationObservation&) = delete;
  ~ActivationObservation();

 private:
  std::shared_ptr<State> state_;
};

// The shared workspace (NSWorkspace with NSRunningApplication): which
// applications run and which is in front, activating one, finding an
// installed one, opening files and addresses, activation notifications.
class Workspace {
 public:
  Workspace();
  ~Workspace();
  Workspace(const Workspace&) = delete;
  Workspace& operator=(const Workspace&) = delete;

  std::optional<RunningApplication> frontmostApplication() const;
  // NSRunningApplication runningApplicationsWithBundleIdentifier:.
  std::vector<RunningApplication> runningApplications(std::string_view bundleIdentifier) const;
  // activateWithOptions:; false when the application no longer runs.
  bool activate(const RunningApplication& application, unsigned options) const;
  // URLForApplicationWithBundleIdentifier: the installed application's location.
  std::optional<std::filesystem::path> urlForApplication(std::string_view bundleIdentifier) const;
  // openURLs:withApplicationAtURL:configuration:completionHandler:.
  void openURLs(std::vector<std::string> urls, const std::filesystem::path& application,
                OpenConfiguration configuration, OpenCompletion completion);
  // openURL: hands an address to the system's opener; false when it refused.
  bool openURL(const std::string& address) const;
  // Delivers activation notifications to `handler` on `queue` (which the
  // caller runs) from now on.
  std::expected<ActivationObservation, Error> observeActivations(asio::io_context& queue,
                                                                 ActivationHandler handler) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The file address of a path ("file:///tmp/a%20b.docx"); relative paths are
// taken from the current directory, and "." and ".." are resolved by name.
std::string fileURLWithPath(const std::filesystem::path& path);

}  // namespace ostrel
