#include "platform/applescript/child_process_linux.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <mutex>
#include <vector>

extern char** environ;

namespace ostrel::applescript_linux {

namespace {

// The children not yet reaped, each the leader of a process group of its
// own, so that a process being stopped can end them and what they started.
// A child stays listed until it has been reaped: while it is a zombie its
// group id cannot be handed to another process.
struct RunningChildren {
  std::mutex mutex;
  std::vector<pid_t> leaders;
  bool ended = false;
};

// Never destroyed: the signal watcher may reach it while the process exits.
RunningChildren& runningChildren() {
  static auto* const children = new RunningChildren();
  return *children;
}

void forget(pid_t pid) {
  RunningChildren& children = runningChildren();
  std::lock_guard lock(children.mutex);
  std::erase(children.leaders, pid);
}

}  // namespace

void endAllChildren() {
  RunningChildren& children = runningChildren();
  std::lock_guard lock(children.mutex);
  children.ended = true;
  for (pid_t leader : children.leaders) ::kill(-leader, SIGKILL);
}

ChildProcess::~ChildProcess() {
  if (pid_ <= 0) return;
  ::kill(-pid_, SIGKILL);
  (void)wait();
}

std::expected<int, Error> ChildProcess::wait() {
  // Waited for without reaping first, so the group id stays ours until the
  // child is off the list.
  siginfo_t info{};
  while (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOWAIT) < 0) {
    if (errno != EINTR) return std::unexpected(POSIXError::make(errno));
  }
  forget(pid_);
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0) {
    if (errno != EINTR) return std::unexpected(POSIXError::make(errno));
  }
  pid_ = -1;
  return status;
}

namespace {

struct SpawnAttributes {
  posix_spawnattr_t value;
  SpawnAttributes() { posix_spawnattr_init(&value); }
  ~SpawnAttributes() { posix_spawnattr_destroy(&value); }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
};

struct SpawnFileActions {
  posix_spawn_file_actions_t value;
  SpawnFileActions() { posix_spawn_file_actions_init(&value); }
  ~SpawnFileActions() { posix_spawn_file_actions_destroy(&value); }
  SpawnFileActions(const SpawnFileActions&) = delete;
  SpawnFileActions& operator=(const SpawnFileActions&) = delete;
};

struct PipeEnds {
  UniqueFd read;
  UniqueFd write;
};

std::expected<PipeEnds, Error> makePipe() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return std::unexpected(POSIXError::make(errno));
  return PipeEnds{UniqueFd(fds[0]), UniqueFd(fds[1])};
}

// Standard input is a socket rather than a pipe so that writing to a child
// that has already gone fails with EPIPE instead of raising SIGPIPE in a
// process that may never have chosen to ignore it.
std::expected<PipeEnds, Error> makeInputChannel() {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return std::unexpected(POSIXError::make(errno));
  ::shutdown(fds[0], SHUT_WR);
  ::shutdown(fds[1], SHUT_RD);
  return PipeEnds{UniqueFd(fds[0]), UniqueFd(fds[1])};
}

std::expected<ChildProcess, Error> spawn(const std::string& program, int input, int output, int error) {
  SpawnFileActions actions;
  posix_spawn_file_actions_adddup2(&actions.value, input, STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions.value, output, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions.value, error, STDERR_FILENO);

  SpawnAttributes attributes;
  sigset_t none;
  sigemptyset(&none);
  sigset_t restored;
  sigemptyset(&restored);
  for (int signal : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGCHLD}) sigaddset(&restored, signal);
  posix_spawnattr_setsigmask(&attributes.value, &none);
  posix_spawnattr_setsigdefault(&attributes.value, &restored);
  // A group of its own, led by the child.
  posix_spawnattr_setpgroup(&attributes.value, 0);
  posix_spawnattr_setflags(&attributes.value,
                           POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);

  std::string argument0 = program;
  char* argv[] = {argument0.data(), nullptr};
  pid_t pid = -1;
  // Started and listed in one step, so that endAllChildren() misses none.
  RunningChildren& children = runningChildren();
  std::lock_guard lock(children.mutex);
  if (children.ended) return std::unexpected(POSIXError::make(ECANCELED));
  if (int status = ::posix_spawnp(&pid, program.c_str(), &actions.value, &attributes.value, argv, environ);
      status != 0) {
    return std::unexpected(POSIXError::make(status));
  }
  children.leaders.push_back(pid);
  return ChildProcess(pid);
}

// Feeds the input and drains both outputs together: a child that writes a
// lot before reading everything must never block against us.
std::expected<void, Error> exchange(UniqueFd& input, std::string_view data, UniqueFd& output,
                                    std::string& outputText, UniqueFd& error, std::string& errorText) {
  size_t written = 0;
  if (data.empty()) input.reset();
  std::array<char, 16384> buffer;
  while (input.valid() || output.valid() || error.valid()) {
    std::array<pollfd, 3> watched{{{input.get(), POLLOUT, 0}, {output.get(), POLLIN, 0}, {error.get(), POLLIN, 0}}};
    if (::poll(watched.data(), watched.size(), -1) < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(POSIXError::make(errno));
    }
    if (input.valid() && watched[0].revents != 0) {
      ssize_t n = ::send(input.get(), data.data() + written, data.size() - written, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) written += static_cast<size_t>(n);
      // A child that stops reading early simply does not get the rest.
      if (written == data.size() || (n < 0 && errno != EAGAIN && errno != EINTR)) input.reset();
    }
    for (auto [index, channel, text] : {std::tuple{1, &output, &outputText}, std::tuple{2, &error, &errorText}}) {
      if (!channel->valid() || watched[index].revents == 0) continue;
      ssize_t n = ::read(channel->get(), buffer.data(), buffer.size());
      if (n > 0) {
        text->append(buffer.data(), static_cast<size_t>(n));
      } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
        channel->reset();
      }
    }
  }
  return {};
}

}  // namespace

std::expected<CompletedProcess, Error> runToCompletion(const std::string& program, std::string_view input) {
  auto inputChannel = makeInputChannel();
  if (!inputChannel) return std::unexpected(inputChannel.error());
  auto outputPipe = makePipe();
  if (!outputPipe) return std::unexpected(outputPipe.error());
  auto errorPipe = makePipe();
  if (!errorPipe) return std::unexpected(errorPipe.error());

  auto child = spawn(program, inputChannel->read.get(), outputPipe->write.get(), errorPipe->write.get());
  if (!child) return std::unexpected(child.error());
  // Only the child keeps these ends, so that its exit is our end of file.
  inputChannel->read.reset();
  outputPipe->write.reset();
  errorPipe->write.reset();

  CompletedProcess completed;
  if (auto done = exchange(inputChannel->write, input, outputPipe->read, completed.standardOutput, errorPipe->read,
                           completed.standardError);
      !done) {
    return std::unexpected(done.error());
  }
  auto status = child->wait();
  if (!status) return std::unexpected(status.error());
  completed.exitedNormally = WIFEXITED(*status);
  completed.exitStatus = completed.exitedNormally ? WEXITSTATUS(*status) : -1;
  return completed;
}

}  // namespace ostrel::applescript_linux
