// The I/O thread of a connection: the socket loop and the checks on what the
// peer sends.

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform/xpc/connection_impl_linux.h"
#include "platform/xpc/line_reader.h"
#include "platform/xpc/wire.h"

namespace ostrel::xpc {

namespace {

enum class Flow { more, peerGone };

// Writes what the socket takes now; never waits for the peer.
Flow writeSome(int fd, std::string& unsent) {
  while (!unsent.empty()) {
    ssize_t written = ::send(fd, unsent.data(), unsent.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (written < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return Flow::more;
      return Flow::peerGone;
    }
    unsent.erase(0, static_cast<size_t>(written));
  }
  return Flow::more;
}

Flow readSome(int fd, LineReader& reader) {
  char buffer[64 * 1024];
  ssize_t count = ::recv(fd, buffer, sizeof(buffer), MSG_DONTWAIT);
  if (count > 0) {
    reader.append(std::string_view(buffer, static_cast<size_t>(count)));
    return Flow::more;
  }
  if (count < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) return Flow::more;
  return Flow::peerGone;
}

}  // namespace

Connection::Impl::End Connection::Impl::runSocket(Connection& connection) {
  UniqueFd socket;
  pid_t pid;
  if (!socketPath.empty()) {
    auto connected = connectTo(socketPath);
    if (!connected) {
      log.error("%{public}s", {connected.error().localizedDescription()});
      return End::invalidated;
    }
    auto peer = peerCredentials(connected->get());
    if (!peer || peer->uid != ::geteuid()) {
      log.error("listener at %{public}s is not ours (uid %{public}d); closing",
                {socketPath, peer ? static_cast<long>(peer->uid) : -1L});
      return End::invalidated;
    }
    socket = std::move(*connected);
    pid = peer->pid;
    std::lock_guard lock(mutex);
    peerPid = pid;
  } else {
    std::lock_guard lock(mutex);
    socket = std::move(acceptedSocket);
    pid = peerPid;
  }

  LineReader reader(wire::maxLineBytes);
  std::string unsent;
  for (;;) {
    bool stop;
    {
      std::lock_guard lock(mutex);
      stop = invalidateRequested;
      if (unsent.empty()) {
        unsent.swap(outgoing);
      } else {
        unsent += outgoing;
        outgoing.clear();
      }
    }
    if (stop) {
      // What was sent before invalidate() goes out if the socket takes it now.
      writeSome(socket.get(), unsent);
      return End::invalidated;
    }

    pollfd fds[2] = {{socket.get(), static_cast<short>(POLLIN | (unsent.empty() ? 0 : POLLOUT)), 0},
                     {wake->fd(), POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      log.error("poll failed: errno %{public}d", {errno});
      return End::invalidated;
    }
    if (fds[1].revents & POLLIN) wake->drain();
    // Reads first: a peer that wrote and left still has its messages delivered.
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
      if (readSome(socket.get(), reader) == Flow::peerGone) return End::interrupted;
      while (auto line = reader.next()) {
        if (!handleLine(connection, *line, pid)) return End::invalidated;
      }
      if (reader.overflowed()) {
        log.error("dropping peer pid=%{public}d: a line over %{public}ld bytes",
                  {static_cast<long>(pid), static_cast<long>(wire::maxLineBytes)});
        return End::invalidated;
      }
    }
    if ((fds[0].revents & POLLOUT) && writeSome(socket.get(), unsent) == Flow::peerGone) return End::interrupted;
  }
}

bool Connection::Impl::handleLine(Connection& connection, std::string_view line, pid_t pid) {
  auto drop = [&](const std::string& why) {
    log.error("dropping peer pid=%{public}d: %{public}s", {static_cast<long>(pid), why});
    return false;
  };
  auto frame = wire::decode(line);
  if (!frame) return drop(frame.error());

  if (auto* reply = std::get_if<wire::Reply>(&*frame)) {
    Pending request;
    {
      std::lock_guard lock(mutex);
      if (invalidateRequested) return false;
      auto it = pending.find(reply->replyId);
      if (it == pending.end()) return drop("reply to unknown request " + std::to_string(reply->replyId));
      request = std::move(it->second);
      pending.erase(it);
    }
    if (request.reply) request.reply(std::move(reply->arguments));
    return true;
  }

  auto& message = std::get<wire::Request>(*frame);
  std::optional<MethodShape> shape;
  std::shared_ptr<ExportedObject> object;
  {
    std::lock_guard lock(mutex);
    if (exportedInterface) {
      auto it = exportedInterface->selectors.find(message.selector);
      if (it != exportedInterface->selectors.end()) shape = it->second;
    }
    object = exportedObject;
  }
  if (!shape) return drop("unknown selector " + message.selector);
  if (shape->argumentCount != message.arguments.size()) {
    return drop(message.selector + " with " + std::to_string(message.arguments.size()) + " arguments");
  }
  if (shape->hasReply != message.replyId.has_value()) {
    return drop(message.selector + (shape->hasReply ? " without" : " with") + " a reply id");
  }
  if (!object) return drop("no exported object for " + message.selector);

  ReplyBlock reply;
  if (message.replyId) {
    auto answered = std::make_shared<std::atomic<bool>>(false);
    reply = [weak = connection.weak_from_this(), id = *message.replyId, answered](Arguments arguments) {
      if (answered->exchange(true)) return;
      if (auto owner = weak.lock()) owner->impl_->sendReply(*owner, id, std::move(arguments));
    };
  }
  std::lock_guard lock(mutex);
  // Checked with the post under one lock: invalidate() discards what was posted before.
  if (invalidateRequested) return false;
  delivery.post([object = std::move(object), message = std::move(message), reply = std::move(reply)] {
    object->invoke(message.selector, message.arguments, reply);
  });
  return true;
}

}  // namespace ostrel::xpc
