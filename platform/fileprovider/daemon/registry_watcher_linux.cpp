#include "platform/fileprovider/daemon/registry_watcher_linux.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>

#include <cerrno>
#include <cstring>
#include <system_error>
#include <thread>

#include "platform/foundation/unique_fd.h"

namespace ostrel::fileprovider {

struct RegistryWatcher::State {
  UniqueFd inotify;
  UniqueFd wake;
  std::function<void()> changed;
  std::thread thread;
  // Set (on the thread itself) when the watcher went from within `changed`:
  // nobody joins the thread, and it frees the state when it ends.
  bool orphaned = false;

  void run() {
    alignas(inotify_event) char buffer[4096];
    for (;;) {
      pollfd fds[2] = {{wake.get(), POLLIN, 0}, {inotify.get(), POLLIN, 0}};
      if (::poll(fds, 2, -1) < 0) continue;  // EINTR
      if (fds[0].revents & POLLIN) return;
      ssize_t length = ::read(inotify.get(), buffer, sizeof buffer);
      if (length <= 0) continue;
      bool registryChanged = false;
      for (char* at = buffer; at < buffer + length;) {
        auto* event = reinterpret_cast<inotify_event*>(at);
        // An overflow lost events: the registry may have changed.
        if ((event->mask & IN_Q_OVERFLOW) || (event->len && std::strcmp(event->name, "domains.json") == 0)) {
          registryChanged = true;
        }
        at += sizeof(inotify_event) + event->len;
      }
      if (registryChanged) changed();
      if (orphaned) return;
    }
  }
};

std::expected<std::unique_ptr<RegistryWatcher>, Error> RegistryWatcher::start(const std::filesystem::path& directory,
                                                                                std::function<void()> changed) {
  std::error_code ec;
  std::filesystem::create_directories(directory, ec);
  if (ec) return std::unexpected(POSIXError::make(ec.value()));
  auto state = std::make_unique<State>();
  state->inotify.reset(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
  state->wake.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!state->inotify || !state->wake) return std::unexpected(POSIXError::make(errno));
  // The registry is replaced by a rename, so the directory is watched, not the file.
  if (::inotify_add_watch(state->inotify.get(), directory.c_str(), IN_MOVED_TO | IN_CLOSE_WRITE | IN_DELETE) < 0) {
    return std::unexpected(POSIXError::make(errno));
  }
  state->changed = std::move(changed);
  State* raw = state.get();
  try {
    state->thread = std::thread([raw] {
      raw->run();
      if (raw->orphaned) delete raw;
    });
  } catch (const std::system_error& error) {
    return std::unexpected(POSIXError::make(error.code().value()));
  }
  return std::unique_ptr<RegistryWatcher>(new RegistryWatcher(std::move(state)));
}

RegistryWatcher::RegistryWatcher(std::unique_ptr<State> state) : state_(std::move(state)) {}

RegistryWatcher::~RegistryWatcher() {
  uint64_t one = 1;
  [[maybe_unused]] auto written = ::write(state_->wake.get(), &one, sizeof one);
  if (state_->thread.get_id() == std::this_thread::get_id()) {
    state_->orphaned = true;
    state_->thread.detach();
    (void)state_.release();
    return;
  }
  if (state_->thread.joinable()) state_->thread.join();
}

}  // namespace ostrel::fileprovider
