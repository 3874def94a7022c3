// A peer in its own process, for the tests that need one.
//   xpc_test_peer host <endpoint text>
//     Connects as the drive's host would, sends updateToken:expiresAt:
//     ("from-child", 1.5), answers the first accessTokenWithReply: with
//     ("child-token", 1700000000.5) and leaves later ones unanswered. Exits when
//     the connection ends.
//   xpc_test_peer listen
//     Makes an anonymous listener, prints its socket path on a line and waits
//     (30 s at most) to be killed, which leaves the socket file behind.
//   xpc_test_peer crowded <descriptor limit>
//     With at most that many descriptors, makes an anonymous listener whose
//     connections answer echo:withReply: with the text they were given,
//     prints its socket path on a line, and ends (status 0) once its
//     standard input closes. An input line "fill" takes every descriptor
//     left (answered "filled"); "free" gives them back (answered "freed").
//   xpc_test_peer foreign <socket path> keep-dac|plain
//     Becomes uid 65534 (keep-dac: still able to open root's files), connects
//     and sends a request. Exit status: 0 closed without a reply, 10 connect
//     refused, 11 got an answer, 12 nothing within 5 s, 13 setup failed.

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/resource.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/xpc/xpc.h"

namespace {

using namespace ostrel::xpc;

class Host : public ExportedObject {
 public:
  void invoke(const std::string& selector, const Arguments&, ReplyBlock reply) override {
    if (selector != "accessTokenWithReply:") return;
    if (answered_) {
      unanswered_.push_back(std::move(reply));
      return;
    }
    answered_ = true;
    reply({"child-token", 1700000000.5});
  }

 private:
  bool answered_ = false;
  std::vector<ReplyBlock> unanswered_;
};

int runHost(const char* text) {
  auto endpoint = ListenerEndpoint::parse(text);
  if (!endpoint) return 2;
  std::mutex mutex;
  std::condition_variable changed;
  bool ended = false;

  auto connection = Connection::create(*endpoint);
  connection->setExportedInterface({"OstrelDriveHostXPC", {{"accessTokenWithReply:", {0, true}}, {"openURL:", {1, false}}}});
  connection->setExportedObject(std::make_shared<Host>());
  connection->setRemoteObjectInterface({"OstrelDriveExtensionXPC", {{"updateToken:expiresAt:", {2, false}}}});
  connection->setInvalidationHandler([&] {
    std::lock_guard lock(mutex);
    ended = true;
    changed.notify_all();
  });
  connection->resume();
  connection->remoteObjectProxyWithErrorHandler({}).send("updateToken:expiresAt:", {"from-child", 1.5});

  std::unique_lock lock(mutex);
  changed.wait_for(lock, std::chrono::seconds(30), [&] { return ended; });
  return 0;
}

int runListener() {
  auto listener = Listener::anonymous();
  if (!listener) return 3;
  std::printf("%s\n", (*listener)->endpoint().socketPath.c_str());
  std::fflush(stdout);
  ::sleep(30);
  return 0;
}

class Echo : public ExportedObject, public ListenerDelegate, public std::enable_shared_from_this<Echo> {
 public:
  void invoke(const std::string& selector, const Arguments& arguments, ReplyBlock reply) override {
    if (selector == "echo:withReply:" && reply) reply(arguments);
  }
  bool shouldAcceptNewConnection(std::shared_ptr<Connection> connection) override {
    connection->setExportedInterface({"Echo", {{"echo:withReply:", {1, true}}}});
    connection->setExportedObject(shared_from_this());
    connection->resume();
    return true;
  }
};

int runCrowded(const char* limitText) {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 3;
  limit.rlim_cur = std::strtoul(limitText, nullptr, 10);
  if (limit.rlim_cur == 0 || ::setrlimit(RLIMIT_NOFILE, &limit) != 0) return 3;
  auto listener = Listener::anonymous();
  if (!listener) return 3;
  auto echo = std::make_shared<Echo>();
  (*listener)->setDelegate(echo);
  (*listener)->resume();
  std::printf("%s\n", (*listener)->endpoint().socketPath.c_str());
  std::fflush(stdout);
  std::vector<int> taken;
  std::string line;
  for (char byte;;) {
    const ssize_t count = ::read(STDIN_FILENO, &byte, 1);
    if (count == 0 || (count < 0 && errno != EINTR)) break;
    if (count < 0 || byte != '\n') {
      if (count > 0) line += byte;
      continue;
    }
    if (line == "fill") {
      for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) taken.push_back(fd);
      // stdout is open already: the answer needs no descriptor.
      std::printf("filled\n");
    } else if (line == "free") {
      for (int fd : taken) ::close(fd);
      taken.clear();
      std::printf("freed\n");
    }
    std::fflush(stdout);
    line.clear();
  }
  for (int fd : taken) ::close(fd);
  (*listener)->invalidate();
  return 0;
}

// Only raw system calls from here: after changing uid the process exits with _exit.
bool becomeNobody(bool keepFileAccess) {
  // Leaving euid 0 clears the effective capabilities but keeps the permitted ones.
  if (::seteuid(65534) != 0) return false;
  if (!keepFileAccess) return true;
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2]{};
  if (::syscall(SYS_capget, &header, data) != 0) return false;
  data[0].effective = 1u << CAP_DAC_OVERRIDE;
  return ::syscall(SYS_capset, &header, data) == 0;
}

[[noreturn]] void runForeign(const char* path, bool keepFileAccess) {
  if (!becomeNobody(keepFileAccess) || ::geteuid() != 65534) ::_exit(13);
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path, sizeof(address.sun_path) - 1);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) ::_exit(errno == EACCES ? 10 : 13);
  const char request[] = "{\"m\":\"attachWithReply:\",\"a\":[],\"r\":1}\n";
  if (::send(fd, request, sizeof(request) - 1, MSG_NOSIGNAL) < 0) ::_exit(0);
  pollfd readable{fd, POLLIN, 0};
  if (::poll(&readable, 1, 5000) <= 0) ::_exit(12);
  char byte;
  ssize_t count = ::recv(fd, &byte, 1, 0);
  ::_exit(count > 0 ? 11 : 0);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "host" && argc == 3) return runHost(argv[2]);
  if (mode == "listen" && argc == 2) return runListener();
  if (mode == "crowded" && argc == 3) return runCrowded(argv[2]);
  if (mode == "foreign" && argc == 4) runForeign(argv[2], std::string(argv[3]) == "keep-dac");
  return 2;
}
