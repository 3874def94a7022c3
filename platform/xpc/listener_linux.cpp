#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/foundation/log.h"
#include "platform/xpc/connection_access_linux.h"
#include "platform/xpc/listener.h"
#include "platform/xpc/runtime_directory_linux.h"
#include "platform/xpc/stale_sockets_linux.h"
#include "platform/xpc/unix_socket_linux.h"

namespace ostrel::xpc {

namespace {
// Another listener holds the lock for a connect and a bind; anything longer
// is a lock that will not come back soon.
constexpr std::chrono::milliseconds lockPatience{2000};

// A connection holds two descriptors (its socket and its wake event). The
// peers of all listeners together get at most half of the process's
// descriptors, so that a crowd of them cannot starve the rest of the
// process: its files, its requests, and the sanitizer runtimes, which need
// descriptors of their own to report.
long connectionLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 1L << 16;
  return std::max(1L, static_cast<long>(std::min<rlim_t>(limit.rlim_cur, 1L << 20) / 4));
}

// The accepted connections of every listener of the process that are still open.
const std::shared_ptr<std::atomic<long>>& openConnections() {
  static const auto count = std::make_shared<std::atomic<long>>(0);
  return count;
}
}  // namespace

struct Listener::State {
  State(ListenerEndpoint endpoint, UniqueFd socket, WakeEvent wake)
      : endpoint(std::move(endpoint)), socket(std::move(socket)), wake(std::move(wake)) {}

  void acceptLoop();
  // Over the limit the peer is closed at once: it learns now rather than
  // waiting in the backlog.
  void admitOrRefuse(UniqueFd peer);
  void admit(UniqueFd peer);

  const ListenerEndpoint endpoint;
  UniqueFd socket;  // used by the accept thread alone once it runs
  const WakeEvent wake;
  const Logger log{"local.ostrel.xpc", "listener"};
  const std::shared_ptr<std::atomic<long>> open = openConnections();
  bool refusing = false;  // accept thread only: logs once per run of refusals

  std::mutex mutex;  // guards everything below
  std::weak_ptr<ListenerDelegate> delegate;
  bool resumed = false;
  bool invalidated = false;
  std::thread acceptThread;
};

void Listener::State::acceptLoop() {
  bool backingOff = false;
  for (;;) {
    // Out of descriptors the listening socket stays readable; wait on the wake event alone for a while.
    pollfd fds[2] = {{wake.fd(), POLLIN, 0}, {socket.get(), POLLIN, 0}};
    int ready = ::poll(fds, backingOff ? 1 : 2, backingOff ? 100 : -1);
    {
      std::lock_guard lock(mutex);
      if (invalidated) break;
    }
    if (ready < 0) continue;  // EINTR
    if (fds[0].revents & POLLIN) wake.drain();
    if (backingOff || !(fds[1].revents & POLLIN)) {
      backingOff = false;
      continue;
    }
    auto peer = acceptFrom(socket.get());
    if (peer) {
      admitOrRefuse(std::move(*peer));
    } else if (peer.error() == EMFILE || peer.error() == ENFILE || peer.error() == ENOBUFS || peer.error() == ENOMEM) {
      log.error("accept failed: errno %{public}d", {peer.error()});
      backingOff = true;
    }
  }
  socket.reset();
}

void Listener::State::admitOrRefuse(UniqueFd peer) {
  const long limit = connectionLimit();
  if (open->load() < limit) {
    refusing = false;
    admit(std::move(peer));
    return;
  }
  if (!refusing) {
    log.error("%{public}ld connections are open, as many as the descriptor limit allows; closing new ones until some end",
              {limit});
  }
  refusing = true;
}

void Listener::State::admit(UniqueFd peer) {
  auto credentials = peerCredentials(peer.get());
  if (!credentials || credentials->uid != ::geteuid()) {
    log.error("rejected a peer of another user (uid %{public}ld, pid %{public}ld)",
              {credentials ? static_cast<long>(credentials->uid) : -1L,
               credentials ? static_cast<long>(credentials->pid) : 0L});
    return;
  }
  open->fetch_add(1);
  std::shared_ptr<void> admission(nullptr, [open = open](void*) { open->fetch_sub(1); });
  auto connection = ConnectionAccess::adopt(std::move(peer), credentials->pid, std::move(admission));
  std::shared_ptr<ListenerDelegate> owner;
  {
    std::lock_guard lock(mutex);
    owner = delegate.lock();
  }
  if (!owner || !owner->shouldAcceptNewConnection(connection)) connection->invalidate();
}

std::expected<std::shared_ptr<Listener>, Error> Listener::anonymous() {
  auto directory = runtimeDirectoryPath();
  if (auto prepared = prepareRuntimeDirectory(directory); !prepared) return std::unexpected(prepared.error());
  // Without the lock the sweep waits for another time; our own fresh path
  // needs none, since no one removes a socket of a running process.
  auto lock = RuntimeDirectoryLock::acquire(directory, lockPatience);
  if (lock) removeDeadAnonymousSockets(directory);
  return listenAtPath(uniqueSocketPath(directory));
}

std::expected<std::shared_ptr<Listener>, Error> Listener::forService(std::string_view serviceName) {
  if (serviceName.empty() || serviceName.find('/') != std::string_view::npos || serviceName.starts_with('.')) {
    return std::unexpected(POSIXError::make(EINVAL));
  }
  auto directory = runtimeDirectoryPath();
  if (auto prepared = prepareRuntimeDirectory(directory); !prepared) return std::unexpected(prepared.error());
  auto lock = RuntimeDirectoryLock::acquire(directory, lockPatience);
  if (!lock) return std::unexpected(lock.error());
  std::string path = ListenerEndpoint::forService(serviceName).socketPath;
  // Only a socket that refuses connections is stale; one that answers, or
  // whose backlog is full, belongs to a running listener: never steal it.
  auto state = probeSocketPath(path);
  if (!state) return std::unexpected(state.error());
  if (*state == SocketPathState::live) return std::unexpected(POSIXError::make(EADDRINUSE));
  removeDeadAnonymousSockets(directory);
  return listenAtPath(std::move(path));
}

std::expected<std::shared_ptr<Listener>, Error> Listener::listenAtPath(std::string path) {
  auto socket = listenAt(path);
  if (!socket) return std::unexpected(socket.error());
  auto wake = WakeEvent::create();
  if (!wake) {
    ::unlink(path.c_str());
    return std::unexpected(wake.error());
  }
  auto state = std::make_shared<State>(ListenerEndpoint{path}, std::move(*socket), std::move(*wake));
  return std::shared_ptr<Listener>(new Listener(std::move(state)));
}

Listener::Listener(std::shared_ptr<State> state) : state_(std::move(state)) {}

Listener::~Listener() {
  invalidate();
}

ListenerEndpoint Listener::endpoint() const {
  return state_->endpoint;
}

void Listener::setDelegate(std::weak_ptr<ListenerDelegate> delegate) {
  std::lock_guard lock(state_->mutex);
  state_->delegate = std::move(delegate);
}

void Listener::resume() {
  std::lock_guard lock(state_->mutex);
  if (state_->resumed || state_->invalidated) return;
  state_->resumed = true;
  try {
    // The thread shares the state, so the listener may go away from inside its delegate.
    state_->acceptThread = std::thread([state = state_] { state->acceptLoop(); });
  } catch (const std::system_error& error) {
    state_->log.fault("no accept thread: %{public}s", {error.what()});
  }
}

void Listener::invalidate() {
  std::thread thread;
  {
    std::lock_guard lock(state_->mutex);
    if (state_->invalidated) return;
    state_->invalidated = true;
    thread = std::move(state_->acceptThread);
  }
  ::unlink(state_->endpoint.socketPath.c_str());
  if (!thread.joinable()) {
    state_->socket.reset();
    return;
  }
  state_->wake.signal();
  if (thread.get_id() == std::this_thread::get_id()) {
    thread.detach();  // called from the delegate; the loop ends when it returns
  } else {
    thread.join();
  }
}

}  // namespace ostrel::xpc
