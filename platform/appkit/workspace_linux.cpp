#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "platform/appkit/activation_log_linux.h"
#include "platform/appkit/open_requests_linux.h"
#include "platform/appkit/workspace.h"
#include "platform/appkit/workspace_files_linux.h"
#include "platform/foundation/paths.h"

extern char** environ;

namespace ostrel {

using namespace appkit_linux;

struct Workspace::Impl {
  WorkspaceFiles files;
  std::mutex openRequestsLock;
  std::unique_ptr<OpenRequests> openRequests;  // started with the first request
};

Workspace::Workspace() : impl_(std::make_unique<Impl>()) { impl_->files.root = ostrelHome() / "Workspace"; }

Workspace::~Workspace() = default;

std::optional<RunningApplication> Workspace::frontmostApplication() const {
  return readApplication(impl_->files.frontmost());
}

std::vector<RunningApplication> Workspace::runningApplications(std::string_view bundleIdentifier) const {
  std::vector<RunningApplication> matching;
  for (auto& application : readApplications(impl_->files.running())) {
    if (application.bundleIdentifier == bundleIdentifier) matching.push_back(std::move(application));
  }
  return matching;
}

// Activating brings the application to the front and tells observers, as
// the window server would.
bool Workspace::activate(const RunningApplication& application, unsigned /*options*/) const {
  const auto running = readApplications(impl_->files.running());
  const bool stillRunning = std::ranges::any_of(running, [&](const RunningApplication& candidate) {
    return application.processIdentifier ? candidate.processIdentifier == application.processIdentifier
                                         : candidate.bundleIdentifier == application.bundleIdentifier;
  });
  if (!stillRunning) return false;
  if (!writeFileAtomically(impl_->files.frontmost(), applicationJSON(application))) return false;
  return appendLine(impl_->files.activations(), activationLine(application)).has_value();
}

std::optional<std::filesystem::path> Workspace::urlForApplication(std::string_view bundleIdentifier) const {
  for (const auto& application : readApplications(impl_->files.installed())) {
    if (application.bundleIdentifier == bundleIdentifier && application.bundleLocation) {
      return application.bundleLocation;
    }
  }
  return std::nullopt;
}

void Workspace::openURLs(std::vector<std::string> urls, const std::filesystem::path& application,
                         OpenConfiguration configuration, OpenCompletion completion) {
  std::string request = openRequestJSON(urls, application, configuration);
  std::lock_guard lock(impl_->openRequestsLock);
  if (!impl_->openRequests) {
    auto created = OpenRequests::create(impl_->files);
    if (!created) {
      // The completion always runs off the caller's thread, failure or not.
      std::thread([completion = std::move(completion), error = created.error()] { completion(std::unexpected(error)); })
          .detach();
      return;
    }
    impl_->openRequests = std::move(*created);
  }
  impl_->openRequests->submit(std::move(request), std::move(completion));
}

namespace {

std::string urlOpener() {
  const char* opener = std::getenv("OSTREL_URL_OPENER");
  return opener && *opener ? opener : "xdg-open";
}

// xdg-open returns at once when a desktop session takes the address, but
// without one it may run the browser itself until it closes; an opener
// still running after this long has taken the address.
constexpr auto openerGrace = std::chrono::seconds(10);

// The opener's start-up settings: signals the caller blocked or ignored are
// reset, so that the opener and what it starts can be stopped like any process.
struct OpenerAttributes {
  posix_spawnattr_t value;
  OpenerAttributes() {
    posix_spawnattr_init(&value);
    sigset_t none;
    sigemptyset(&none);
    sigset_t restored;
    sigemptyset(&restored);
    for (int signal : {SIGPIPE, SIGINT, SIGTERM, SIGHUP}) sigaddset(&restored, signal);
    posix_spawnattr_setsigmask(&value, &none);
    posix_spawnattr_setsigdefault(&value, &restored);
    posix_spawnattr_setflags(&value, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  }
  ~OpenerAttributes() { posix_spawnattr_destroy(&value); }
  OpenerAttributes(const OpenerAttributes&) = delete;
  OpenerAttributes& operator=(const OpenerAttributes&) = delete;
};

}  // namespace

bool Workspace::openURL(const std::string& address) const {
  std::string opener = urlOpener();
  std::string argument = address;
  char* argv[] = {opener.data(), argument.data(), nullptr};
  OpenerAttributes attributes;
  pid_t pid = -1;
  if (::posix_spawnp(&pid, opener.c_str(), nullptr, &attributes.value, argv, environ) != 0) return false;

  const auto deadline = std::chrono::steady_clock::now() + openerGrace;
  while (std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (done < 0 && errno != EINTR) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

std::expected<ActivationObservation, Error> Workspace::observeActivations(asio::io_context& queue,
                                                                          ActivationHandler handler) const {
  return observeActivationLog(queue, impl_->files, std::move(handler));
}

}  // namespace ostrel
