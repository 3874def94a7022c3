#pragma once

#include <expected>
#include <memory>

#include "platform/foundation/error.h"
#include "platform/xpc/connection.h"
#include "platform/xpc/endpoint.h"

namespace ostrel::xpc {

class ListenerDelegate {
 public:
  virtual ~ListenerDelegate() = default;
  // Called on the listener's thread for each peer of our own user. Configure the
  // connection (interfaces, exported object, handlers), resume it, and return
  // true to keep it; false closes it.
  virtual bool shouldAcceptNewConnection(std::shared_ptr<Connection> connection) = 0;
};

// NSXPCListener.
class Listener {
 public:
  // NSXPCListener anonymousListener: a fresh socket in the per-user runtime
  // directory, after removing the sockets there of processes that ended.
  // Fails when the directory is unsafe or the path too long.
  static std::expected<std::shared_ptr<Listener>, Error> anonymous();
  // NSXPCListener initWithMachServiceName: listens at the service's endpoint.
  // Fails while another live listener serves the name; a stale socket left by
  // a process that died is replaced.
  static std::expected<std::shared_ptr<Listener>, Error> forService(std::string_view serviceName);
  ~Listener();  // invalidates
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  // The same endpoint for the life of the listener.
  ListenerEndpoint endpoint() const;
  // Held weakly, as NSXPCListener does: the delegate usually owns the listener.
  // Without a live delegate, new connections are closed.
  void setDelegate(std::weak_ptr<ListenerDelegate> delegate);
  void resume();
  // Stops accepting and removes the socket file. Idempotent; safe from the delegate.
  void invalidate();

 private:
  struct State;
  static std::expected<std::shared_ptr<Listener>, Error> listenAtPath(std::string path);
  explicit Listener(std::shared_ptr<State> state);
  std::shared_ptr<State> state_;
};

}  // namespace ostrel::xpc
