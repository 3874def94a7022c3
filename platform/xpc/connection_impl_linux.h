#pragma once

// The state behind a Connection on Linux. Threads of a resumed connection:
//   I/O thread       connects (or takes the accepted socket), writes queued
//                    lines, reads lines, runs reply blocks, and hands requests
//                    to the delivery queue. Reply blocks run here rather than
//                    on the delivery thread so that a message handler may wait
//                    for a reply from the same peer;
//   delivery thread  runs the exported object's invocations in order, then the
//                    interruption handler, the pending requests' error
//                    handlers and the invalidation handler, last.
// Both hold the connection alive until it has ended.

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <expected>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "platform/foundation/log.h"
#include "platform/xpc/connection.h"
#include "platform/xpc/serial_queue.h"
#include "platform/foundation/unique_fd.h"
#include "platform/xpc/unix_socket_linux.h"

namespace ostrel::xpc {

struct Connection::Impl {
  enum class Phase { suspended, running, ended };
  // Why the connection ended: interrupted when the peer went away; invalidated
  // otherwise (here, by a connect failure, or by dropping a misbehaving peer).
  enum class End { interrupted, invalidated };

  struct Pending {
    ReplyBlock reply;
    std::function<void(Error)> errorHandler;
  };

  Impl(std::string socketPath, UniqueFd acceptedSocket, pid_t peerPid, std::shared_ptr<void> admission = {});

  // Starts the threads; without `connect`, only to run the ending.
  void start(const std::shared_ptr<Connection>& self, bool connect);
  // The socket loop of the I/O thread; returns how the connection ended.
  End runSocket(Connection& connection);
  // Checks a line from the peer and acts on it; false drops the peer.
  bool handleLine(Connection& connection, std::string_view line, pid_t pid);
  // Fails pending requests and queues the final handlers. Called once.
  void finish(End reason);
  // Queues a whole line for the I/O thread; dropped when the connection is over.
  void enqueue(const std::string& line);
  void sendReply(Connection& connection, int64_t replyId, Arguments arguments);

  const std::string socketPath;  // empty for accepted connections
  const std::shared_ptr<void> admission;  // of the listener that accepted it; released last
  const std::expected<WakeEvent, Error> wake;
  const Logger log{"local.ostrel.xpc", "connection"};
  std::atomic<int64_t> nextReplyId{1};
  SerialQueue delivery;
  std::thread deliveryThread;  // set once by start(), before anything can end

  mutable std::mutex mutex;  // guards everything below
  Phase phase = Phase::suspended;
  bool invalidateRequested = false;
  pid_t peerPid = 0;
  UniqueFd acceptedSocket;  // moves to the I/O thread
  std::thread ioThread;
  std::optional<Interface> exportedInterface;
  std::optional<Interface> remoteInterface;
  std::shared_ptr<ExportedObject> exportedObject;
  std::function<void()> invalidationHandler;
  std::function<void()> interruptionHandler;
  std::map<int64_t, Pending> pending;
  std::string outgoing;  // lines not yet taken by the I/O thread
};

}  // namespace ostrel::xpc
