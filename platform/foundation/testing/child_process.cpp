#include "platform/foundation/testing/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>
#include <utility>

extern char** environ;

namespace ostrel::testing {

namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::string> mergedEnvironment(const std::map<std::string, std::string>& overrides) {
  std::vector<std::string> out;
  for (char** entry = environ; *entry; ++entry) {
    const std::string text = *entry;
    if (!overrides.contains(text.substr(0, text.find('=')))) out.push_back(text);
  }
  for (const auto& [name, value] : overrides) out.push_back(name + "=" + value);
  return out;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
  std::vector<char*> out;
  for (auto& text : texts) out.push_back(text.data());
  out.push_back(nullptr);
  return out;
}

int millisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? int(left) : 0;
}

}  // namespace

std::optional<ChildProcess> ChildProcess::start(const std::string& program, const std::vector<std::string>& arguments,
                                                const std::map<std::string, std::string>& environment) {
  int input[2];
  int output[2];
  int error[2];
  if (::pipe2(input, O_CLOEXEC) != 0) return std::nullopt;
  if (::pipe2(output, O_CLOEXEC) != 0) {
    ::close(input[0]);
    ::close(input[1]);
    return std::nullopt;
  }
  if (::pipe2(error, O_CLOEXEC) != 0) {
    for (int fd : {input[0], input[1], output[0], output[1]}) ::close(fd);
    return std::nullopt;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, error[1], STDERR_FILENO);
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::vector<std::string> envp = mergedEnvironment(environment);
  auto argvPointers = pointers(argv);
  auto envpPointers = pointers(envp);
  pid_t pid = -1;
  const int spawned = posix_spawnp(&pid, program.c_str(), &actions, nullptr, argvPointers.data(), envpPointers.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(input[0]);
  ::close(output[1]);
  ::close(error[1]);
  if (spawned != 0) {
    ::close(input[1]);
    ::close(output[0]);
    ::close(error[0]);
    return std::nullopt;
  }
  return ChildProcess(pid, input[1], output[0], error[0]);
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      input_(std::exchange(other.input_, -1)),
      output_{std::exchange(other.output_.fd, -1), std::move(other.output_.buffered)},
      error_{std::exchange(other.error_.fd, -1), std::move(other.error_.buffered)} {}

ChildProcess::~ChildProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  if (input_ >= 0) ::close(input_);
  if (output_.fd >= 0) ::close(output_.fd);
  if (error_.fd >= 0) ::close(error_.fd);
}

bool ChildProcess::readSome(Pipe& pipe, int timeoutMs) {
  if (pipe.fd < 0) return false;
  pollfd ready{pipe.fd, POLLIN, 0};
  if (::poll(&ready, 1, timeoutMs) <= 0) return false;
  char chunk[8192];
  const ssize_t count = ::read(pipe.fd, chunk, sizeof chunk);
  if (count <= 0) {
    ::close(pipe.fd);
    pipe.fd = -1;
    return false;
  }
  pipe.buffered.append(chunk, std::size_t(count));
  return true;
}

std::optional<std::string> ChildProcess::readLine(Pipe& pipe, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (true) {
    if (auto end = pipe.buffered.find('\n'); end != std::string::npos) {
      std::string line = pipe.buffered.substr(0, end);
      pipe.buffered.erase(0, end + 1);
      return line;
    }
    const int left = millisecondsLeft(deadline);
    if (left == 0 || pipe.fd < 0) return std::nullopt;
    readSome(pipe, left);
  }
}

std::optional<std::string> ChildProcess::readOutputLine(std::chrono::milliseconds timeout) {
  return readLine(output_, timeout);
}

std::optional<std::string> ChildProcess::readErrorLine(std::chrono::milliseconds timeout) {
  return readLine(error_, timeout);
}

std::string ChildProcess::readOutputBytes(std::size_t bytes, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (output_.buffered.size() < bytes && output_.fd >= 0) {
    const int left = millisecondsLeft(deadline);
    if (left == 0) break;
    readSome(output_, left);
  }
  const std::size_t take = std::min(bytes, output_.buffered.size());
  std::string out = output_.buffered.substr(0, take);
  output_.buffered.erase(0, take);
  return out;
}

void ChildProcess::drain(std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while ((output_.fd >= 0 || error_.fd >= 0) && millisecondsLeft(deadline) > 0) {
    readSome(output_, 0);
    output_.buffered.clear();  // the audio is not wanted here
    readSome(error_, 10);
  }
}

void ChildProcess::closeOutput() {
  if (output_.fd >= 0) ::close(output_.fd);
  output_.fd = -1;
  output_.buffered.clear();
}

bool ChildProcess::writeInput(const std::string& text) {
  // A child that has ended must fail the write, not kill the test.
  static const bool sigpipeIgnored = [] { return ::signal(SIGPIPE, SIG_IGN) != SIG_ERR; }();
  (void)sigpipeIgnored;
  for (size_t written = 0; written < text.size();) {
    if (input_ < 0) return false;
    ssize_t n = ::write(input_, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    written += static_cast<size_t>(n);
  }
  return true;
}

void ChildProcess::closeInput() {
  if (input_ >= 0) ::close(input_);
  input_ = -1;
}

std::vector<std::string> ChildProcess::remainingErrorLines() {
  std::vector<std::string> lines;
  while (auto line = readLine(error_, std::chrono::milliseconds(0))) lines.push_back(*line);
  return lines;
}

void ChildProcess::signal(int signalNumber) const {
  if (pid_ > 0) ::kill(pid_, signalNumber);
}

std::optional<int> ChildProcess::waitForExit(std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (pid_ > 0 && Clock::now() < deadline) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      if (WIFEXITED(status)) return WEXITSTATUS(status);
      return std::nullopt;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return std::nullopt;
}

}  // namespace ostrel::testing
