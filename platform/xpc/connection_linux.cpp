#include <system_error>
#include <utility>

#include "platform/xpc/connection.h"
#include "platform/xpc/connection_access_linux.h"
#include "platform/xpc/connection_impl_linux.h"
#include "platform/xpc/errors.h"
#include "platform/xpc/wire.h"

namespace ostrel::xpc {

namespace {

void joinOrDetach(std::thread& thread) {
  if (!thread.joinable()) return;
  if (thread.get_id() == std::this_thread::get_id()) {
    thread.detach();
  } else {
    thread.join();
  }
}

}  // namespace

Connection::Impl::Impl(std::string path, UniqueFd socket, pid_t pid, std::shared_ptr<void> admitted)
    : socketPath(std::move(path)),
      admission(std::move(admitted)),
      wake(WakeEvent::create()),
      peerPid(pid),
      acceptedSocket(std::move(socket)) {}

void Connection::Impl::start(const std::shared_ptr<Connection>& self, bool connect) {
  try {
    deliveryThread = std::thread([this, owner = self]() mutable {
      delivery.run();
      std::thread io;
      {
        std::lock_guard lock(mutex);
        io = std::move(ioThread);
      }
      if (io.joinable()) io.join();
      // May destroy the connection, which then detaches this thread.
      owner.reset();
    });
  } catch (const std::system_error& error) {
    // Without a thread of its own the connection cannot run; end it here so
    // every handler still runs exactly once.
    log.fault("no delivery thread: %{public}s", {error.what()});
    finish(End::invalidated);
    delivery.run();
    return;
  }
  bool started = false;
  if (connect && wake) {
    std::lock_guard lock(mutex);
    try {
      ioThread = std::thread([self] { self->impl_->finish(self->impl_->runSocket(*self)); });
      started = true;
    } catch (const std::system_error& error) {
      log.fault("no I/O thread: %{public}s", {error.what()});
    }
  } else if (connect) {
    log.error("no wake event: %{public}s", {wake.error().localizedDescription()});
  }
  if (!started) finish(End::invalidated);
}

void Connection::Impl::finish(End reason) {
  std::map<int64_t, Pending> failed;
  UniqueFd neverUsed;  // an accepted socket of a connection invalidated before resume: the peer must see it close
  {
    std::lock_guard lock(mutex);
    phase = Phase::ended;
    failed.swap(pending);
    outgoing.clear();
    neverUsed = std::move(acceptedSocket);
  }
  auto last = [this, reason, failed = std::move(failed)]() mutable {
    std::function<void()> interruption;
    std::function<void()> invalidation;
    std::shared_ptr<ExportedObject> object;  // released here, breaking cycles through it
    {
      std::lock_guard lock(mutex);
      interruption = std::move(interruptionHandler);
      invalidation = std::move(invalidationHandler);
      object = std::move(exportedObject);
    }
    if (reason == End::interrupted && interruption) interruption();
    const Error error = XPCError::make(
        reason == End::interrupted ? XPCError::connectionInterrupted : XPCError::connectionInvalid);
    for (auto& [id, request] : failed) {
      if (request.errorHandler) request.errorHandler(error);
    }
    failed.clear();
    if (invalidation) invalidation();
  };
  // The peer's last messages still arrive; after a local invalidate nothing does.
  delivery.finish(std::move(last), /*dropPending=*/reason != End::interrupted);
}

void Connection::Impl::enqueue(const std::string& line) {
  {
    std::lock_guard lock(mutex);
    if (phase == Phase::ended || invalidateRequested) return;
    outgoing += line;
  }
  if (wake) wake->signal();
}

void Connection::Impl::sendReply(Connection& connection, int64_t replyId, Arguments arguments) {
  auto line = wire::encode(wire::Reply{replyId, std::move(arguments)});
  if (line) {
    enqueue(*line);
    return;
  }
  // The peer would wait for this reply for ever; ending the connection runs its error handler.
  log.error("reply %{public}lld cannot be sent (%{public}s); invalidating the connection",
            {static_cast<long long>(replyId), line.error()});
  connection.invalidate();
}

Connection::Connection(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

std::shared_ptr<Connection> Connection::create(const ListenerEndpoint& endpoint) {
  return std::shared_ptr<Connection>(new Connection(std::make_unique<Impl>(endpoint.socketPath, UniqueFd(), 0)));
}

std::shared_ptr<Connection> ConnectionAccess::adopt(UniqueFd socket, pid_t peerPid, std::shared_ptr<void> admission) {
  return std::shared_ptr<Connection>(new Connection(
      std::make_unique<Connection::Impl>(std::string(), std::move(socket), peerPid, std::move(admission))));
}

Connection::~Connection() {
  // Only a connection that never started can still hold requests.
  if (impl_->phase == Impl::Phase::suspended) {
    const Error error = XPCError::make(XPCError::connectionInvalid);
    for (auto& [id, request] : impl_->pending) {
      if (request.errorHandler) request.errorHandler(error);
    }
  }
  joinOrDetach(impl_->ioThread);
  joinOrDetach(impl_->deliveryThread);
}

void Connection::setExportedInterface(Interface interface) {
  std::lock_guard lock(impl_->mutex);
  impl_->exportedInterface = std::move(interface);
}

void Connection::setExportedObject(std::shared_ptr<ExportedObject> object) {
  std::lock_guard lock(impl_->mutex);
  impl_->exportedObject = std::move(object);
}

void Connection::setRemoteObjectInterface(Interface interface) {
  std::lock_guard lock(impl_->mutex);
  impl_->remoteInterface = std::move(interface);
}

void Connection::setInvalidationHandler(std::function<void()> handler) {
  std::lock_guard lock(impl_->mutex);
  impl_->invalidationHandler = std::move(handler);
}

void Connection::setInterruptionHandler(std::function<void()> handler) {
  std::lock_guard lock(impl_->mutex);
  impl_->interruptionHandler = std::move(handler);
}

void Connection::resume() {
  {
    std::lock_guard lock(impl_->mutex);
    if (impl_->phase != Impl::Phase::suspended || impl_->invalidateRequested) return;
    impl_->phase = Impl::Phase::running;
  }
  impl_->start(shared_from_this(), /*connect=*/true);
}

void Connection::invalidate() {
  bool neverResumed;
  {
    std::lock_guard lock(impl_->mutex);
    if (impl_->invalidateRequested || impl_->phase == Impl::Phase::ended) return;
    impl_->invalidateRequested = true;
    neverResumed = impl_->phase == Impl::Phase::suspended;
    if (neverResumed) impl_->phase = Impl::Phase::running;
  }
  if (neverResumed) {
    // Handlers still run on a thread of the connection, never inside this call.
    impl_->start(shared_from_this(), /*connect=*/false);
    return;
  }
  // Nothing more is posted once the flag is set, so nothing is delivered after this.
  impl_->delivery.discardQueued();
  if (impl_->wake) impl_->wake->signal();
}

pid_t Connection::processIdentifier() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->peerPid;
}

RemoteProxy Connection::remoteObjectProxyWithErrorHandler(std::function<void(Error)> errorHandler) {
  return RemoteProxy(shared_from_this(), std::move(errorHandler));
}

bool RemoteProxy::conformsTo(std::string_view protocolName) const {
  std::lock_guard lock(connection_->impl_->mutex);
  const auto& remote = connection_->impl_->remoteInterface;
  return remote && remote->protocolName == protocolName;
}

void RemoteProxy::send(const std::string& selector, Arguments arguments, ReplyBlock reply) {
  Connection::Impl& impl = *connection_->impl_;
  auto fail = [&](Error error) {
    if (errorHandler_) errorHandler_(std::move(error));
  };
  std::optional<MethodShape> shape;
  std::string protocol;
  {
    std::lock_guard lock(impl.mutex);
    if (impl.remoteInterface) {
      protocol = impl.remoteInterface->protocolName;
      if (auto it = impl.remoteInterface->selectors.find(selector); it != impl.remoteInterface->selectors.end()) {
        shape = it->second;
      }
    }
  }
  if (!shape) {
    return fail(XPCError::make(XPCError::invalidValue,
                               selector + " is not in the remote interface" + (protocol.empty() ? "" : " " + protocol)));
  }
  if (shape->argumentCount != arguments.size()) {
    return fail(XPCError::make(XPCError::invalidValue, selector + " takes " + std::to_string(shape->argumentCount) +
                                                           " arguments, not " + std::to_string(arguments.size())));
  }
  if (shape->hasReply != static_cast<bool>(reply)) {
    return fail(XPCError::make(XPCError::invalidValue,
                               selector + (shape->hasReply ? " needs a reply block" : " takes no reply block")));
  }

  std::optional<int64_t> replyId;
  if (reply) replyId = impl.nextReplyId.fetch_add(1);
  auto line = wire::encode(wire::Request{selector, std::move(arguments), replyId});
  if (!line) return fail(XPCError::make(XPCError::invalidValue, selector + ": " + line.error()));

  bool accepted;
  {
    std::lock_guard lock(impl.mutex);
    accepted = impl.phase != Connection::Impl::Phase::ended && !impl.invalidateRequested;
    if (accepted) {
      if (replyId) impl.pending.emplace(*replyId, Connection::Impl::Pending{std::move(reply), errorHandler_});
      impl.outgoing += *line;
    }
  }
  if (!accepted) {
    if (replyId) fail(XPCError::make(XPCError::connectionInvalid));
    return;
  }
  if (impl.wake) impl.wake->signal();
}

}  // namespace ostrel::xpc
