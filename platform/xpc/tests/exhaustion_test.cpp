#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "platform/foundation/testing/child_process.h"
#include "platform/xpc/tests/test_support.h"

namespace ostrel::xpc {
namespace {

using namespace std::chrono_literals;
using testing::kWait;
using testing::Mailbox;

// A connect that never waits: nothing when the listener's backlog is full.
int connectNow(const std::string& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Each peer asks for an echo and the crowd stays until every peer has an
// answer or was closed (bounded): the listener runs out of descriptors on
// the way.
void crowdOnce(const std::string& path, int peers) {
  static const std::string request = R"({"m":"echo:withReply:","a":["crowd"],"r":1})" "\n";
  std::vector<int> sockets;
  std::vector<pollfd> waiting;
  for (int k = 0; k < peers; ++k) {
    const int fd = connectNow(path);
    if (fd < 0) continue;
    (void)::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    sockets.push_back(fd);
    waiting.push_back({fd, POLLIN, 0});
  }
  const auto deadline = std::chrono::steady_clock::now() + 500ms;
  while (!waiting.empty() && std::chrono::steady_clock::now() < deadline) {
    if (::poll(waiting.data(), waiting.size(), 100) <= 0) continue;
    std::erase_if(waiting, [](const pollfd& entry) { return entry.revents != 0; });
  }
  for (int fd : sockets) ::close(fd);
}

// A listener out of descriptors backs off, ends what it cannot serve and
// serves again once descriptors are free; it never uses a connection it
// has let go (the sanitizer builds abort the peer if it does).
class DescriptorExhaustion : public testing::XpcTest {};

TEST_F(DescriptorExhaustion, AListenerOutOfDescriptorsServesAgainAfterwards) {
  auto peer = ostrel::testing::ChildProcess::start(testing::peerProgram(), {"crowded", "48"}, {});
  ASSERT_TRUE(peer);
  const auto path = peer->readOutputLine(kWait * 2);
  ASSERT_TRUE(path) << "the peer did not listen";

  for (int round = 0; round < 8; ++round) crowdOnce(*path, 120);

  Mailbox<Arguments> replies;
  auto connection = Connection::create(ListenerEndpoint{*path});
  connection->setRemoteObjectInterface({"Echo", {{"echo:withReply:", {1, true}}}});
  connection->resume();
  connection->remoteObjectProxyWithErrorHandler({}).send(
      "echo:withReply:", {"after the crowd"}, [&](Arguments arguments) { replies.put(std::move(arguments)); });
  const auto reply = replies.take(kWait * 4);
  ASSERT_TRUE(reply) << "no answer once descriptors were free again";
  EXPECT_EQ(*reply, (Arguments{"after the crowd"}));
  connection->invalidate();

  peer->closeInput();
  EXPECT_EQ(peer->waitForExit(kWait * 2), 0);
  peer->drain(1s);
  bool exhausted = false;
  const auto lines = peer->remainingErrorLines();
  for (const auto& line : lines) {
    EXPECT_EQ(line.find("runtime error"), std::string::npos) << line;
    EXPECT_EQ(line.find("Sanitizer"), std::string::npos) << line;
    exhausted = exhausted || line.find("Too many open files") != std::string::npos ||
                line.find("accept failed: errno 24") != std::string::npos;
  }
  EXPECT_TRUE(exhausted) << "the crowd never ran the listener out of descriptors";
}

}  // namespace
}  // namespace ostrel::xpc
