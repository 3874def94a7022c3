// ostrel-fileproviderd [--mount-root DIR] [--extension BUNDLE]
// Stands in for the system's file provider: hosts the drive extension for every
// registered domain and, with a mount root, shows each domain as a FUSE mount
// at <mount root>/<display name>. Runs in the foreground until SIGINT/SIGTERM.

#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

#include "platform/fileprovider/daemon/domain_presenter.h"
#include "platform/fileprovider/daemon/file_provider_daemon.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/log.h"
#include "platform/foundation/termination.h"

namespace {

struct Options {
  std::optional<std::filesystem::path> mountRoot;
  std::filesystem::path extension;
};

std::optional<Options> parseOptions(int argc, char** argv) {
  Options options;
  options.extension = ostrel::Bundle::main().bundlePath() / "OstrelDrive.appex";
  for (int i = 1; i < argc; ++i) {
    std::string argument = argv[i];
    if ((argument == "--mount-root" || argument == "--extension") && i + 1 < argc) {
      std::filesystem::path value = std::filesystem::absolute(argv[++i]);
      if (argument == "--mount-root") {
        options.mountRoot = value;
      } else {
        options.extension = value;
      }
    } else {
      return std::nullopt;
    }
  }
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  // Static: the signal thread may still be notifying while main returns.
  static std::mutex mutex;
  static std::condition_variable stopped;
  static bool stopping = false;
  ostrel::watchTerminationSignals([](int) {
    std::lock_guard lock(mutex);
    stopping = true;
    stopped.notify_all();
  });

  const ostrel::Logger log("local.ostrel.fileproviderd", "daemon");
  auto options = parseOptions(argc, argv);
  if (!options) {
    std::fprintf(stderr, "usage: ostrel-fileproviderd [--mount-root DIR] [--extension BUNDLE]\n");
    return 2;
  }
  auto module = ostrel::fileprovider::ExtensionModule::load(options->extension);
  if (!module) {
    log.fault("%{public}s", {module.error().localizedDescription()});
    return 1;
  }
  auto daemon = ostrel::fileprovider::FileProviderDaemon::start(
      std::move(*module), ostrel::fileprovider::domainPresenter(options->mountRoot));
  if (!daemon) {
    log.fault("cannot serve: %{public}s", {daemon.error().localizedDescription()});
    return 1;
  }
  {
    std::unique_lock lock(mutex);
    stopped.wait(lock, [] { return stopping; });
  }
  log.notice("stopping");
  // Requests in flight may still hold parts of it: stop it outright so that
  // every mount is gone before the process ends.
  (*daemon)->stop();
  daemon->reset();
  return 0;
}
