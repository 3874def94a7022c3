#include "platform/usernotifications/testing/session_bus.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <thread>

#include <nlohmann/json.hpp>

extern char** environ;

namespace ostrel::testing {

namespace {

using Clock = std::chrono::steady_clock;

std::vector<char*> argvOf(std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  return argv;
}

std::expected<pid_t, std::string> spawn(std::vector<std::string> arguments, const Environment& extra, int output) {
  std::map<std::string, std::string> variables;
  for (char** entry = environ; *entry; ++entry) {
    std::string_view text(*entry);
    const size_t equals = text.find('=');
    if (equals != std::string_view::npos) variables[std::string(text.substr(0, equals))] = text.substr(equals + 1);
  }
  for (const auto& [name, value] : extra) variables[name] = value;
  std::vector<std::string> lines;
  for (const auto& [name, value] : variables) lines.push_back(name + "=" + value);
  std::vector<char*> envp = argvOf(lines);
  std::vector<char*> argv = argvOf(arguments);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (output >= 0) posix_spawn_file_actions_adddup2(&actions, output, STDOUT_FILENO);
  pid_t pid = -1;
  const int failed = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0) return std::unexpected("cannot start " + arguments[0] + ": " + std::strerror(failed));
  return pid;
}

std::optional<int> waitFor(pid_t pid, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    int status = 0;
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (done < 0 && errno != EINTR) return -1;
    if (Clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace

std::expected<ChildProcess, std::string> ChildProcess::start(const std::vector<std::string>& arguments,
                                                             const Environment& extra) {
  auto pid = spawn(arguments, extra, -1);
  if (!pid) return std::unexpected(pid.error());
  return ChildProcess(*pid);
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
}

std::optional<int> ChildProcess::waitForExit(std::chrono::milliseconds timeout) {
  if (pid_ <= 0) return std::nullopt;
  auto status = waitFor(pid_, timeout);
  if (status) pid_ = -1;
  return status;
}

std::optional<Finished> runToEnd(const std::vector<std::string>& arguments, std::chrono::milliseconds timeout) {
  int pipe[2];
  if (::pipe2(pipe, O_CLOEXEC) != 0) return std::nullopt;
  auto pid = spawn(arguments, {}, pipe[1]);
  ::close(pipe[1]);
  if (!pid) {
    ::close(pipe[0]);
    return std::nullopt;
  }
  Finished finished;
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    pollfd readable{pipe[0], POLLIN, 0};
    if (::poll(&readable, 1, static_cast<int>(left)) <= 0) continue;
    char chunk[4096];
    const ssize_t n = ::read(pipe[0], chunk, sizeof chunk);
    if (n <= 0) break;
    finished.output.append(chunk, static_cast<size_t>(n));
  }
  ::close(pipe[0]);
  auto status = waitFor(*pid, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()) +
                                  std::chrono::milliseconds(100));
  if (!status) {
    ::kill(*pid, SIGKILL);
    ::waitpid(*pid, nullptr, 0);
    return std::nullopt;
  }
  finished.status = *status;
  return finished;
}

std::optional<std::string> pythonWithDbusmock() {
  for (const char* candidate : {"/usr/bin/python3", "python3"}) {
    auto found = runToEnd({candidate, "-c", "import dbusmock, dbus"}, std::chrono::seconds(20));
    if (found && found->status == 0) return candidate;
  }
  return std::nullopt;
}

std::expected<PrivateSessionBus, std::string> PrivateSessionBus::start() {
  // --fork: the daemon's own process lives on; its pid comes on the second line.
  auto started = runToEnd({"dbus-daemon", "--session", "--fork", "--print-address=1", "--print-pid=1"},
                          std::chrono::seconds(20));
  if (!started || started->status != 0) return std::unexpected("dbus-daemon did not start");
  const std::string& output = started->output;
  const size_t firstLine = output.find('\n');
  if (firstLine == std::string::npos) return std::unexpected("dbus-daemon printed no address: " + output);
  const std::string address = output.substr(0, firstLine);
  const pid_t pid = std::atoi(output.c_str() + firstLine + 1);
  if (address.empty() || pid <= 0) return std::unexpected("dbus-daemon printed " + output);
  return PrivateSessionBus(address, pid);
}

PrivateSessionBus::~PrivateSessionBus() {
  if (pid_ > 0) ::kill(pid_, SIGTERM);
}

std::expected<MockNotificationServer, std::string> MockNotificationServer::start(const std::string& python) {
  // Its call log goes to a file rather than into the test output.
  auto process =
      ChildProcess::start({python, "-m", "dbusmock", "--template", "notification_daemon", "--logfile", "/dev/null"});
  if (!process) return std::unexpected(process.error());
  MockNotificationServer server(python, std::move(*process));
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  while (Clock::now() < deadline) {
    auto ready = server.control({"ready"});
    if (ready && ready->status == 0) return server;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return std::unexpected("the mock notification server did not take its name");
}

std::optional<Finished> MockNotificationServer::control(const std::vector<std::string>& arguments) const {
  std::vector<std::string> command{python_, NOTIFICATION_SERVER_CONTROL};
  command.insert(command.end(), arguments.begin(), arguments.end());
  return runToEnd(command, std::chrono::seconds(20));
}

std::vector<json::Value> MockNotificationServer::notifyCalls() const {
  auto listed = control({"calls"});
  if (!listed || listed->status != 0) {
    ADD_FAILURE() << "cannot list the server's calls";
    return {};
  }
  const nlohmann::json calls = nlohmann::json::parse(listed->output, nullptr, false);
  if (!calls.is_array()) {
    ADD_FAILURE() << "not a list of calls: " << listed->output;
    return {};
  }
  return {calls.begin(), calls.end()};
}

std::vector<json::Value> MockNotificationServer::waitForNotifyCalls(size_t count,
                                                                    std::chrono::milliseconds timeout) const {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    auto calls = notifyCalls();
    if (calls.size() >= count || Clock::now() >= deadline) return calls;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

std::vector<uint32_t> MockNotificationServer::closeRequests() const {
  auto listed = control({"closes"});
  if (!listed || listed->status != 0) {
    ADD_FAILURE() << "cannot list the server's calls";
    return {};
  }
  const nlohmann::json ids = nlohmann::json::parse(listed->output, nullptr, false);
  if (!ids.is_array()) return {};
  return ids.get<std::vector<uint32_t>>();
}

void MockNotificationServer::click(uint32_t id, const std::string& key) const {
  auto clicked = control({"click", std::to_string(id), key});
  ASSERT_TRUE(clicked && clicked->status == 0) << "the click was not sent";
}

void MockNotificationServer::close(uint32_t id, uint32_t reason) const {
  auto closed = control({"close", std::to_string(id), std::to_string(reason)});
  ASSERT_TRUE(closed && closed->status == 0) << "the close was not sent";
}

void NotificationBusTest::SetUp() {
  auto found = runToEnd({"sh", "-c", "command -v dbus-daemon"}, std::chrono::seconds(10));
  if (!found || found->status != 0) GTEST_SKIP() << "dbus-daemon is not installed";
  auto interpreter = pythonWithDbusmock();
  if (!interpreter) GTEST_SKIP() << "python3-dbusmock is not installed";
  python = *interpreter;

  auto started = PrivateSessionBus::start();
  ASSERT_TRUE(started) << started.error();
  bus.emplace(std::move(*started));
  ::setenv("DBUS_SESSION_BUS_ADDRESS", bus->address().c_str(), 1);
  if (wantsServer()) startServer();
}

void NotificationBusTest::startServer() {
  auto started = MockNotificationServer::start(python);
  ASSERT_TRUE(started) << started.error();
  server.emplace(std::move(*started));
}

}  // namespace ostrel::testing
