#pragma once

#include <sys/types.h>

#include <memory>

#include "platform/xpc/connection.h"
#include "platform/foundation/unique_fd.h"

namespace ostrel::xpc {

// How the listener hands an accepted socket to a connection. The connection
// holds `admission` until it is gone, which lets the listener count the
// connections still open.
struct ConnectionAccess {
  static std::shared_ptr<Connection> adopt(UniqueFd socket, pid_t peerPid, std::shared_ptr<void> admission);
};

}  // namespace ostrel::xpc
