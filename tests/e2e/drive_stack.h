#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/foundation/testing/child_process.h"
#include "tools/testing/reference_service.h"

namespace ostrel::testing {

// The drive as real processes around a reference service: a private
// OSTREL_HOME, the file provider daemon (mounting under a temporary mount
// root when asked), the drive helper's one-shot commands and its serve loop
// for the domain "demo". Everything is stopped and removed when it goes.
class DriveStack {
 public:
  DriveStack(const ReferenceService& service, bool mounted);
  ~DriveStack();
  DriveStack(const DriveStack&) = delete;
  DriveStack& operator=(const DriveStack&) = delete;

  // Starts the daemon and waits (bounded) until its control service is up.
  bool startDaemon();
  // SIGTERM, then the daemon's exit status.
  std::optional<int> stopDaemon();
  // SIGKILL, as a crash ends it; the mount it leaves is taken down.
  void killDaemon();

  struct Result {
    nlohmann::json output;
    std::optional<int> status;
  };
  Result helper(const std::vector<std::string>& arguments) const;
  // register demo "Demo Drive" <service base>.
  bool registerDemo() const;

  bool startServe();
  ChildProcess& serve() { return *serve_; }
  bool send(const nlohmann::json& message);
  // The next serve event of that name; the lines before it are dropped.
  std::optional<nlohmann::json> nextEvent(const std::string& name,
                                          std::chrono::milliseconds timeout = std::chrono::seconds(15));
  // A token the service accepts for an hour, as the desktop application sends it.
  bool sendToken();

  // The domain's mount and a wait (bounded) until it is mounted.
  std::filesystem::path mount() const { return mountRoot_ / "Demo Drive"; }
  bool waitForMount() const;

  // How many API requests whose target holds `containing` (or, with `exact`,
  // is it) reached the service with a token; with `method`, of that method alone.
  int authorizedRequests(const std::string& containing, const std::string& method = {}, bool exact = false) const;

  const std::filesystem::path& home() const { return home_; }
  const std::map<std::string, std::string>& environment() const { return environment_; }

 private:
  const ReferenceService& service_;
  const bool mounted_;
  std::filesystem::path home_;
  std::filesystem::path mountRoot_;
  std::map<std::string, std::string> environment_;
  std::optional<ChildProcess> daemon_;
  std::optional<ChildProcess> serve_;
};

}  // namespace ostrel::testing
