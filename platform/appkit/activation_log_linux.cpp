#include <sys/inotify.h>
#include <sys/stat.h>

#include <array>
#include <fstream>

#include <asio/buffer.hpp>

#include "platform/appkit/activation_log_linux.h"

namespace ostrel {

using appkit_linux::parseActivation;

// Follows the activation log from where it ended at subscription: each line
// appended later is one notification. A log that is replaced (created,
// renamed over, deleted) or shortened starts over: all its lines are new.
struct ActivationObservation::State : std::enable_shared_from_this<State> {
  State(std::filesystem::path log, asio::posix::stream_descriptor changes, ActivationHandler handler)
      : log(std::move(log)), changes(std::move(changes)), handler(std::move(handler)) {
    struct stat status {};
    if (::stat(this->log.c_str(), &status) == 0) offset = static_cast<uintmax_t>(status.st_size);
  }

  void awaitChanges() {
    changes.async_read_some(asio::buffer(events), [weak = weak_from_this()](const asio::error_code& error, size_t size) {
      auto self = weak.lock();
      if (error || !self) return;
      self->deliverNewLines(self->logWasReplaced(size));
      // Dropped by a handler meanwhile: `self` is the last owner, and closing
      // the descriptor with it cancels this new wait.
      self->awaitChanges();
    });
  }

  // Whether the log was created, deleted or renamed over among these events.
  bool logWasReplaced(size_t size) const {
    const std::string name = log.filename().string();
    for (size_t at = 0; at + sizeof(inotify_event) <= size;) {
      const auto* event = reinterpret_cast<const inotify_event*>(events.data() + at);
      if ((event->mask & (IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM)) && event->len > 0 &&
          name == event->name) {
        return true;
      }
      at += sizeof(inotify_event) + event->len;
    }
    return false;
  }

  void deliverNewLines(bool startOver) {
    struct stat status {};
    if (::stat(log.c_str(), &status) != 0) startOver = true;
    // Shortened in place: what is there now was never read.
    if (startOver || static_cast<uintmax_t>(status.st_size) < offset) {
      offset = 0;
      partialLine.clear();
    }
    std::ifstream in(log, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    std::array<char, 8192> chunk;
    while (in.read(chunk.data(), chunk.size()) || in.gcount() > 0) {
      offset += static_cast<uintmax_t>(in.gcount());
      partialLine.append(chunk.data(), static_cast<size_t>(in.gcount()));
    }
    // Only complete lines count; the rest waits for its line feed.
    size_t start = 0;
    std::vector<std::optional<RunningApplication>> activations;
    for (size_t end; (end = partialLine.find('\n', start)) != std::string::npos; start = end + 1) {
      if (auto activation = parseActivation(std::string_view(partialLine).substr(start, end - start))) {
        activations.push_back(std::move(*activation));
      }
    }
    partialLine.erase(0, start);
    for (const auto& application : activations) {
      if (dropped) return;  // by the handler, within this batch
      handler(application);
    }
  }

  std::filesystem::path log;
  asio::posix::stream_descriptor changes;
  ActivationHandler handler;
  alignas(inotify_event) std::array<char, 4096> events{};
  uintmax_t offset = 0;
  std::string partialLine;
  bool dropped = false;
};

ActivationObservation::ActivationObservation(std::shared_ptr<State> state) : state_(std::move(state)) {}
ActivationObservation::ActivationObservation(ActivationObservation&&) noexcept = default;
ActivationObservation& ActivationObservation::operator=(ActivationObservation&& other) noexcept {
  if (this != &other) {
    if (state_) state_->dropped = true;
    state_ = std::move(other.state_);
  }
  return *this;
}
ActivationObservation::~ActivationObservation() {
  if (state_) state_->dropped = true;
}

namespace appkit_linux {

std::expected<ActivationObservation, Error> observeActivationLog(asio::io_context& queue, const WorkspaceFiles& files,
                                                                 ActivationHandler handler) {
  auto changes = watchDirectory(queue, files.root, IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE | IN_DELETE);
  if (!changes) return std::unexpected(changes.error());
  auto state = std::make_shared<ActivationObservation::State>(files.activations(), std::move(*changes), std::move(handler));
  state->awaitChanges();
  return ActivationObservation(std::move(state));
}

}  // namespace appkit_linux

}  // namespace ostrel
