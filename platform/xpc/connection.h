#pragma once

#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/foundation/error.h"
#include "platform/xpc/endpoint.h"
#include "platform/xpc/interface.h"

namespace ostrel::xpc {

class Connection;

// Sends messages described by the connection's remote interface.
class RemoteProxy {
 public:
  // True when the connection's remote interface is the named protocol.
  bool conformsTo(std::string_view protocolName) const;

  // Sends the message without waiting for the peer. With a reply block, either
  // the reply block or the error handler runs, exactly once. The reply block
  // runs on the connection's I/O thread: it may hand the answer on, but must not
  // wait there for another reply from the same connection. A selector not in
  // the remote interface, a wrong argument count or reply-ness, or a value that
  // cannot be encoded (a non-finite double, a message over 1 MiB) runs the error
  // handler (4866); on an ended connection a request runs it with 4099 and a
  // one-way message is dropped. Those immediate failures run the error handler on
  // the calling thread before send returns.
  void send(const std::string& selector, Arguments arguments, ReplyBlock reply = {});

 private:
  friend class Connection;
  RemoteProxy(std::shared_ptr<Connection> connection, std::function<void(Error)> errorHandler)
      : connection_(std::move(connection)), errorHandler_(std::move(errorHandler)) {}

  std::shared_ptr<Connection> connection_;
  std::function<void(Error)> errorHandler_;
};

// NSXPCConnection. Configure it, then resume(). A resumed connection keeps
// itself alive until it is invalidated; its handlers and exported object are
// released once the invalidation handler has run.
class Connection : public std::enable_shared_from_this<Connection> {
 public:
  // NSXPCConnection initWithListenerEndpoint: — connects on resume().
  static std::shared_ptr<Connection> create(const ListenerEndpoint& endpoint);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  void setExportedInterface(Interface interface);
  void setExportedObject(std::shared_ptr<ExportedObject> object);
  void setRemoteObjectInterface(Interface interface);
  // Runs once, when the connection ends for any reason, after every pending
  // request's error handler; nothing is delivered after it.
  void setInvalidationHandler(std::function<void()> handler);
  // Runs when the peer goes away, before the invalidation handler.
  void setInterruptionHandler(std::function<void()> handler);

  void resume();
  // Idempotent; safe from any thread, including inside a handler or reply block.
  // Messages received but not yet delivered are dropped.
  void invalidate();
  // The peer's pid (SO_PEERCRED), 0 if unknown.
  pid_t processIdentifier() const;

  RemoteProxy remoteObjectProxyWithErrorHandler(std::function<void(Error)> errorHandler);

 private:
  struct Impl;
  friend class RemoteProxy;
  friend struct ConnectionAccess;
  explicit Connection(std::unique_ptr<Impl> impl);

  std::unique_ptr<Impl> impl_;
};

}  // namespace ostrel::xpc
