#include "tests/e2e/drive_stack.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/vfs.h>

#include <fstream>
#include <iostream>
#include <thread>

namespace ostrel::testing {

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

const fs::path binaries = OSTREL_BIN_DIR;

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 15s) {
  for (auto deadline = std::chrono::steady_clock::now() + timeout; std::chrono::steady_clock::now() < deadline;
       std::this_thread::sleep_for(10ms)) {
    if (condition()) return true;
  }
  return condition();
}

// A FUSE mount is a different device from its parent directory.
bool isMountPoint(const fs::path& path) {
  struct stat self{}, parent{};
  return ::stat(path.c_str(), &self) == 0 && ::stat(path.parent_path().c_str(), &parent) == 0 &&
         self.st_dev != parent.st_dev;
}

}  // namespace

DriveStack::DriveStack(const ReferenceService& service, bool mounted) : service_(service), mounted_(mounted) {
  std::string pattern = "/tmp/ostrel-e2e-drive-XXXXXX";
  if (::mkdtemp(pattern.data())) home_ = pattern;
  mountRoot_ = home_ / "mnt";
  fs::create_directories(mountRoot_);
  environment_ = {{"OSTREL_HOME", home_.string()}, {"OSTREL_XPC_DIR", (home_ / "xpc").string()}};
}

DriveStack::~DriveStack() {
  serve_.reset();
  stopDaemon();
  // A daemon that died leaves its mount behind; never delete through it.
  if (isMountPoint(mount())) {
    std::system(("fusermount3 -u -z '" + mount().string() + "' 2>/dev/null").c_str());
  }
  std::error_code ignored;
  if (!isMountPoint(mount())) fs::remove_all(home_, ignored);
}

bool DriveStack::startDaemon() {
  // Its standard error goes to a file: nobody reads the pipe while a test runs,
  // and a full pipe would stall the daemon.
  std::vector<std::string> arguments = {"-c", "exec \"$0\" \"$@\" 2>> \"$OSTREL_HOME/daemon.stderr\"",
                                        (binaries / "ostrel-fileproviderd").string()};
  if (mounted_) arguments.insert(arguments.end(), {"--mount-root", mountRoot_.string()});
  auto started = ChildProcess::start("/bin/sh", arguments, environment_);
  if (!started) return false;
  daemon_.emplace(std::move(*started));
  auto socket = home_ / "xpc" / "local.ostrel.fileproviderd.sock";
  return eventually([&] { return fs::exists(socket); });
}

void DriveStack::killDaemon() {
  if (!daemon_) return;
  daemon_->signal(SIGKILL);
  daemon_->waitForExit(20s);
  daemon_.reset();
  std::system(("fusermount3 -u -z '" + mount().string() + "' 2>/dev/null").c_str());
}

std::optional<int> DriveStack::stopDaemon() {
  if (!daemon_) return std::nullopt;
  daemon_->signal(SIGTERM);
  auto status = daemon_->waitForExit(20s);
  daemon_.reset();
  if (status != 0) {
    std::ifstream log(home_ / "daemon.stderr");
    std::cerr << "the daemon ended with " << (status ? std::to_string(*status) : "no status") << ":\n"
              << log.rdbuf();
  }
  return status;
}

DriveStack::Result DriveStack::helper(const std::vector<std::string>& arguments) const {
  auto process = ChildProcess::start((binaries / "ostrel_drive_helper").string(), arguments, environment_);
  if (!process) return {};
  auto line = process->readOutputLine(10s);
  return {line ? nlohmann::json::parse(*line, nullptr, false) : nlohmann::json(), process->waitForExit(10s)};
}

bool DriveStack::registerDemo() const {
  auto registered = helper({"register", "demo", "Demo Drive", service_.base()});
  return registered.status == 0 && registered.output.value("added", false);
}

bool DriveStack::startServe() {
  auto started = ChildProcess::start((binaries / "ostrel_drive_helper").string(), {"serve", "demo"}, environment_);
  if (!started) return false;
  serve_.emplace(std::move(*started));
  return true;
}

bool DriveStack::send(const nlohmann::json& message) {
  return serve_ && serve_->writeInput(message.dump() + "\n");
}

bool DriveStack::sendToken() {
  double inOneHour =
      std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count() + 3600;
  return send({{"type", "token"}, {"token", "test-token"}, {"expires_at", inOneHour}});
}

std::optional<nlohmann::json> DriveStack::nextEvent(const std::string& name, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (serve_ && std::chrono::steady_clock::now() < deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    auto line = serve_->readOutputLine(left);
    if (!line) break;
    auto event = nlohmann::json::parse(*line, nullptr, false);
    if (event.is_object() && event.value("event", "") == name) return event;
  }
  return std::nullopt;
}

int DriveStack::authorizedRequests(const std::string& containing, const std::string& method, bool exact) const {
  auto log = nlohmann::json::parse(service_.admin("GET", "/admin/requests").body, nullptr, false);
  int count = 0;
  if (!log.is_object()) return 0;
  for (const auto& request : log["requests"]) {
    const std::string target = request.value("target", "");
    if (request.value("authorization", false) && (method.empty() || request.value("method", "") == method) &&
        (exact ? target == containing : target.find(containing) != std::string::npos))
      ++count;
  }
  return count;
}

bool DriveStack::waitForMount() const {
  return eventually([&] { return isMountPoint(mount()); });
}

}  // namespace ostrel::testing
