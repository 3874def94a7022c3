#include "tools/reference-service/tests/service_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <utility>

extern char** environ;

namespace ostrel::refsvc::testing {

namespace {

using Clock = std::chrono::steady_clock;

struct Spawned {
  pid_t pid = -1;
  UniqueFd output;
  UniqueFd errors;
};

struct Pipe {
  UniqueFd read;
  UniqueFd write;
};

std::expected<Pipe, std::string> makePipe() {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return std::unexpected(std::string("pipe: ") + std::strerror(errno));
  return Pipe{UniqueFd(ends[0]), UniqueFd(ends[1])};
}

// Starts the binary with standard output (and, if asked, standard error) on pipes.
std::expected<Spawned, std::string> spawn(const std::vector<std::string>& arguments, bool captureErrors) {
  auto output = makePipe();
  if (!output) return std::unexpected(output.error());
  Pipe errors;
  if (captureErrors) {
    auto made = makePipe();
    if (!made) return std::unexpected(made.error());
    errors = std::move(*made);
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, output->write.get(), STDOUT_FILENO);
  if (captureErrors) posix_spawn_file_actions_adddup2(&actions, errors.write.get(), STDERR_FILENO);

  std::vector<std::string> argv = {REFERENCE_SERVICE_PATH};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::vector<char*> pointers;
  for (auto& argument : argv) pointers.push_back(argument.data());
  pointers.push_back(nullptr);

  pid_t pid = -1;
  const int failed = posix_spawn(&pid, REFERENCE_SERVICE_PATH, &actions, nullptr, pointers.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0) return std::unexpected(std::string("spawn: ") + std::strerror(failed));
  // Only the child writes; our copies of the write ends must go for the pipes to close at its exit.
  return Spawned{pid, std::move(output->read), std::move(errors.read)};
}

// Reads from `fd` until `done` says so, the pipe closes or the deadline passes.
template <class Done>
bool readUntil(int fd, std::string& into, Clock::time_point deadline, Done done) {
  char buffer[4096];
  while (!done(into)) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd entry{fd, POLLIN, 0};
    const int ready = poll(&entry, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return true;  // closed
    into.append(buffer, static_cast<size_t>(got));
  }
  return true;
}

std::expected<int, std::string> waitForExit(pid_t pid, Clock::time_point deadline) {
  while (true) {
    int status = 0;
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) {
      if (WIFEXITED(status)) return WEXITSTATUS(status);
      return std::unexpected("ended by signal " + std::to_string(WTERMSIG(status)));
    }
    if (done < 0 && errno != EINTR) return std::unexpected(std::string("waitpid: ") + std::strerror(errno));
    if (Clock::now() >= deadline) return std::unexpected("did not exit in time");
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void killAndReap(pid_t pid) {
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
}

}  // namespace

TemporaryDirectory::TemporaryDirectory() {
  std::string pattern = (std::filesystem::temp_directory_path() / "refsvc-test-XXXXXX").string();
  if (mkdtemp(pattern.data())) path_ = pattern;
}

TemporaryDirectory::~TemporaryDirectory() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

std::expected<ServiceProcess, std::string> ServiceProcess::start(const Options& options) {
  std::vector<std::string> arguments = {"--listen", "127.0.0.1:0", "--data", options.dataDirectory.string()};
  if (options.seedDemo) {
    arguments.push_back("--seed");
    arguments.push_back("demo");
  }
  for (const auto& token : options.tokens) {
    arguments.push_back("--token");
    arguments.push_back(token);
  }
  auto spawned = spawn(arguments, /*captureErrors=*/false);
  if (!spawned) return std::unexpected(spawned.error());

  std::string line;
  const auto deadline = Clock::now() + std::chrono::seconds(30);
  readUntil(spawned->output.get(), line, deadline,
            [](const std::string& text) { return text.find('\n') != std::string::npos; });
  const size_t end = line.find('\n');
  if (end == std::string::npos || !line.starts_with("http://127.0.0.1:")) {
    killAndReap(spawned->pid);
    return std::unexpected("the service printed no address, only \"" + line + "\"");
  }
  return ServiceProcess(spawned->pid, std::move(spawned->output), line.substr(0, end));
}

ServiceProcess::ServiceProcess(ServiceProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)), output_(std::move(other.output_)), base_(std::move(other.base_)) {}

ServiceProcess::~ServiceProcess() {
  if (pid_ > 0) killAndReap(pid_);
}

std::expected<int, std::string> ServiceProcess::stop(int signal, std::chrono::milliseconds patience) {
  if (pid_ <= 0) return std::unexpected("not running");
  kill(pid_, signal);
  auto status = waitForExit(pid_, Clock::now() + patience);
  if (!status && status.error() == "did not exit in time") killAndReap(pid_);
  pid_ = -1;
  return status;
}

std::expected<Finished, std::string> runService(const std::vector<std::string>& arguments,
                                                std::chrono::milliseconds patience) {
  auto spawned = spawn(arguments, /*captureErrors=*/true);
  if (!spawned) return std::unexpected(spawned.error());
  const auto deadline = Clock::now() + patience;
  Finished finished;
  readUntil(spawned->errors.get(), finished.standardError, deadline, [](const std::string&) { return false; });
  auto status = waitForExit(spawned->pid, deadline);
  if (!status) {
    killAndReap(spawned->pid);
    return std::unexpected(status.error());
  }
  finished.exitStatus = *status;
  return finished;
}

}  // namespace ostrel::refsvc::testing
