#include "platform/coreaudio/testing/pulse_daemon.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <utility>

extern char** environ;

namespace ostrel::coreaudio::testing {

namespace {

using namespace std::chrono_literals;

std::map<std::string, std::string> clientEnvironment(const std::string& directory) {
  return {{"XDG_RUNTIME_DIR", directory},
          {"PULSE_RUNTIME_PATH", directory + "/pulse"},
          {"PULSE_SERVER", "unix:" + directory + "/pulse/native"},
          {"HOME", directory}};
}

// Runs a program quietly with extra variables; its pid.
pid_t spawnQuiet(const std::vector<std::string>& command, const std::map<std::string, std::string>& overrides) {
  std::vector<std::string> envp;
  for (char** entry = environ; *entry; ++entry) {
    const std::string text = *entry;
    if (!overrides.contains(text.substr(0, text.find('=')))) envp.push_back(text);
  }
  for (const auto& [name, value] : overrides) envp.push_back(name + "=" + value);
  std::vector<std::string> argv = command;
  std::vector<char*> argvPointers;
  for (auto& text : argv) argvPointers.push_back(text.data());
  argvPointers.push_back(nullptr);
  std::vector<char*> envpPointers;
  for (auto& text : envp) envpPointers.push_back(text.data());
  envpPointers.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  const int spawned =
      posix_spawnp(&pid, argv[0].c_str(), &actions, nullptr, argvPointers.data(), envpPointers.data());
  posix_spawn_file_actions_destroy(&actions);
  return spawned == 0 ? pid : -1;
}

// The exit status, or -1 when the process does not end in time (it is then killed).
int waitBounded(pid_t pid, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::this_thread::sleep_for(10ms);
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  return -1;
}

}  // namespace

bool PulseDaemon::available() {
  const char* path = std::getenv("PATH");
  std::string paths = path ? path : "/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= paths.size()) {
    const std::size_t end = std::min(paths.find(':', start), paths.size());
    if (::access((paths.substr(start, end - start) + "/pulseaudio").c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

std::optional<PulseDaemon> PulseDaemon::start(const std::vector<std::string>& modules) {
  std::string pattern = (std::filesystem::temp_directory_path() / "ostrel-pulse-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) return std::nullopt;
  PulseDaemon daemon(pattern, modules);
  if (!daemon.startServer()) return std::nullopt;
  return daemon;
}

bool PulseDaemon::startServer() {
  if (pid_ > 0) return true;
  std::vector<std::string> command{"pulseaudio",      "-n", "--daemonize=no", "--exit-idle-time=-1",
                                   "--use-pid-file=no", "--disable-shm=yes", "-L", "module-native-protocol-unix"};
  for (const auto& module : modules_) {
    command.push_back("-L");
    command.push_back(module);
  }
  pid_ = spawnQuiet(command, clientEnvironment(directory_));
  if (pid_ < 0) return false;
  const auto deadline = std::chrono::steady_clock::now() + 15s;
  while (std::chrono::steady_clock::now() < deadline) {
    if (pactl({"info"}) == 0) return true;
    if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
      pid_ = -1;
      return false;
    }
    std::this_thread::sleep_for(50ms);
  }
  stopServer();
  return false;
}

void PulseDaemon::stopServer() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  waitBounded(pid_, 5s);
  pid_ = -1;
}

PulseDaemon::PulseDaemon(PulseDaemon&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      directory_(std::exchange(other.directory_, {})),
      modules_(std::move(other.modules_)) {}

PulseDaemon::~PulseDaemon() {
  stopServer();
  if (!directory_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
  }
}

std::map<std::string, std::string> PulseDaemon::environment() const { return clientEnvironment(directory_); }

int PulseDaemon::pactl(const std::vector<std::string>& arguments) const {
  std::vector<std::string> command{"pactl"};
  command.insert(command.end(), arguments.begin(), arguments.end());
  const pid_t pid = spawnQuiet(command, environment());
  return pid < 0 ? -1 : waitBounded(pid, 10s);
}

}  // namespace ostrel::coreaudio::testing
