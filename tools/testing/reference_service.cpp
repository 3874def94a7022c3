#include "tools/testing/reference_service.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/foundation/url_session.h"

extern char** environ;

namespace ostrel::testing {

namespace {

// Reads the service's first output line (its base address), waiting at most `timeout`.
std::string readFirstLine(int fd, std::chrono::milliseconds timeout) {
  std::string line;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (poll(&p, 1, static_cast<int>(std::max<long>(1, left.count()))) <= 0) continue;
    char c;
    ssize_t n = read(fd, &c, 1);
    if (n <= 0) break;
    if (c == '\n') return line;
    line += c;
  }
  return {};
}

}  // namespace

ReferenceService::ReferenceService(Options options) : token_(options.tokens.empty() ? "" : options.tokens.front()) {
  if (options.dataDirectory.empty()) {
    std::string pattern = (std::filesystem::temp_directory_path() / "ostrel-service-XXXXXX").string();
    if (!mkdtemp(pattern.data())) return;
    data_ = pattern;
    ownsData_ = true;
  } else {
    data_ = options.dataDirectory;
  }

  std::vector<std::string> args = {OSTREL_REFERENCE_SERVICE_PATH, "--listen", "127.0.0.1:0", "--data", data_.string()};
  if (options.seedDemo) args.insert(args.end(), {"--seed", "demo"});
  for (const auto& token : options.tokens) args.insert(args.end(), {"--token", token});
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  const int spawned = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  if (spawned != 0) {
    pid_ = -1;
    close(out[0]);
    std::fprintf(stderr, "cannot start %s\n", argv[0]);
    return;
  }
  base_ = readFirstLine(out[0], std::chrono::seconds(20));
  close(out[0]);
  if (base_.empty()) std::fprintf(stderr, "the reference service printed no address\n");
}

ReferenceService::~ReferenceService() {
  stop();
  std::error_code ignored;
  if (ownsData_) std::filesystem::remove_all(data_, ignored);
}

void ReferenceService::stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  // Bounded: a service that ignores SIGTERM is killed after 10 s.
  for (int i = 0; i < 1000; ++i) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

ReferenceService::Answer ReferenceService::admin(const std::string& method, const std::string& path,
                                                 const std::string& body) const {
  // A session per call: a kept-alive connection would hold up the service's shutdown.
  const URLSession session;
  URLRequest request{.url = base_ + path, .method = method, .headers = {{"Content-Type", "application/json"}}};
  if (method != "GET" && method != "DELETE") request.body = body;
  auto response = session.data(request, {});
  if (!response) return {};
  return {response->status, response->body};
}

ReferenceService::Answer ReferenceService::api(const std::string& method, const std::string& path,
                                               const std::string& body) const {
  const URLSession session;
  URLRequest request{.url = base_ + path,
                     .method = method,
                     .headers = {{"Authorization", "Bearer " + token_}, {"Content-Type", "application/json"}}};
  if (!body.empty()) request.body = body;
  auto response = session.data(request, {});
  if (!response) return {};
  return {response->status, response->body};
}

}  // namespace ostrel::testing
