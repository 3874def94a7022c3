#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/xpc/tests/test_support.h"
#include "platform/xpc/unix_socket_linux.h"

extern char** environ;

namespace ostrel::xpc {
namespace {

using namespace testing;
using Events = std::vector<std::string>;

class FailureTest : public XpcTest {};

ReplyBlock into(Mailbox<Arguments>& box) {
  return [&box](Arguments arguments) { box.put(std::move(arguments)); };
}

// Writes what the peer takes within the bound; a peer that hangs up ends it early.
void writeAll(int fd, std::string_view data) {
  const auto deadline = std::chrono::steady_clock::now() + kWait;
  while (!data.empty() && std::chrono::steady_clock::now() < deadline) {
    pollfd writable{fd, POLLOUT, 0};
    if (::poll(&writable, 1, 100) <= 0) continue;
    ssize_t written = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (written < 0) return;
    data.remove_prefix(static_cast<size_t>(written));
  }
}

// True when the peer closes the socket within the bound.
bool closedByPeer(int fd) {
  char buffer[4096];
  const auto deadline = std::chrono::steady_clock::now() + kWait;
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd readable{fd, POLLIN, 0};
    if (::poll(&readable, 1, 100) <= 0) continue;
    ssize_t count = ::recv(fd, buffer, sizeof(buffer), 0);
    if (count == 0 || (count < 0 && errno == ECONNRESET)) return true;
  }
  return false;
}

TEST_F(FailureTest, APeerThatGoesAwayDeliversItsLastMessagesThenInterrupts) {
  Mailbox<ReplyBlock> held;
  Mailbox<Arguments> replies;
  auto server = extensionSide([&](const std::string&, const Arguments&, ReplyBlock reply) { held.put(reply); });
  auto client = hostSide();
  Link link(server, client);

  client->send("attachWithReply:", {}, into(replies));
  auto unanswered = held.take();
  ASSERT_TRUE(unanswered);
  server->send("openURL:", {"https://example.com/doc"});
  server->connection->invalidate();

  EXPECT_EQ(client->eventsThroughInvalidation(),
            (Events{"message openURL:", "interrupted", "error 4097", "invalidated"}));
  EXPECT_EQ(server->eventsThroughInvalidation(), (Events{"message attachWithReply:", "invalidated"}));
  (*unanswered)({"too late"});  // dropped: its connection is gone
  EXPECT_EQ(replies.size(), 0u);
}

TEST_F(FailureTest, APeerProcessThatDiesFailsItsPendingRequests) {
  Mailbox<Arguments> tokens;
  Mailbox<Arguments> replies;
  auto server = extensionSide([&](const std::string& selector, const Arguments& arguments, ReplyBlock) {
    if (selector == "updateToken:expiresAt:") tokens.put(arguments);
  });
  Link link(server, nullptr);

  // The endpoint reaches the peer as text, as it would through another process.
  const std::string program = peerProgram();
  const std::string endpoint = link.listener->endpoint().serialized();
  char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>("host"), const_cast<char*>(endpoint.c_str()),
                  nullptr};
  pid_t child = 0;
  ASSERT_EQ(::posix_spawn(&child, program.c_str(), nullptr, nullptr, argv, environ), 0);

  EXPECT_EQ(server->events.take(), "accepted");
  EXPECT_EQ(tokens.take(), (Arguments{"from-child", 1.5}));
  EXPECT_EQ(server->connection->processIdentifier(), child);
  server->send("accessTokenWithReply:", {}, into(replies));
  EXPECT_EQ(replies.take(), (Arguments{"child-token", 1700000000.5}));
  server->send("accessTokenWithReply:", {}, into(replies));  // the peer answers only once

  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_EQ(server->eventsThroughInvalidation(),
            (Events{"message updateToken:expiresAt:", "interrupted", "error 4097", "invalidated"}));
  EXPECT_EQ(replies.size(), 0u);
}

TEST_F(FailureTest, InvalidatingFailsPendingAndLaterRequestsAndDropsLaterMessages) {
  Mailbox<Arguments> replies;
  auto server = extensionSide();
  auto client = hostSide();
  Link link(server, client);

  client->send("attachWithReply:", {}, into(replies));
  EXPECT_EQ(server->events.take(), "message attachWithReply:");
  std::vector<std::thread> invalidators;
  for (int i = 0; i < 4; ++i) invalidators.emplace_back([&] { client->connection->invalidate(); });
  for (auto& thread : invalidators) thread.join();

  EXPECT_EQ(client->eventsThroughInvalidation(), (Events{"error 4099", "invalidated"}));
  EXPECT_EQ(server->eventsThroughInvalidation(), (Events{"interrupted", "invalidated"}));
  client->send("updateToken:expiresAt:", {"tok", 1.0});
  client->send("attachWithReply:", {}, into(replies));
  EXPECT_EQ(client->events.size(), 1u) << "one-way dropped silently, the request failed at once";
  EXPECT_EQ(client->events.take(), "error 4099");
  EXPECT_EQ(replies.size(), 0u);
}

TEST_F(FailureTest, AConnectionThatNeverConnectsStillEndsProperly) {
  auto gone = Listener::anonymous();
  ASSERT_TRUE(gone);
  const ListenerEndpoint invalidatedListener = (*gone)->endpoint();
  gone->reset();

  const struct {
    const char* name;
    ListenerEndpoint endpoint;
    bool resume;
  } cases[] = {
      {"no such socket", {(base_ / "absent.sock").string()}, true},
      {"listener invalidated", invalidatedListener, true},
      {"path too long", {"/" + std::string(200, 'p')}, true},
      {"invalidated before resume", {(base_ / "absent.sock").string()}, false},
  };
  for (const auto& c : cases) {
    Mailbox<Arguments> replies;
    Side client;
    client.remote = extensionProtocol();
    client.configure(Connection::create(c.endpoint));
    client.send("attachWithReply:", {}, into(replies));
    c.resume ? client.connection->resume() : client.connection->invalidate();
    EXPECT_EQ(client.eventsThroughInvalidation(), (Events{"error 4099", "invalidated"})) << c.name;
    EXPECT_EQ(client.connection->processIdentifier(), 0) << c.name;
  }
}

TEST_F(FailureTest, AConnectionTheDelegateRefusesIsClosed) {
  // Keeps what it refuses: closing must not wait for the last reference.
  struct Refusing : ListenerDelegate {
    bool shouldAcceptNewConnection(std::shared_ptr<Connection> connection) override {
      kept.put(connection);
      return false;
    }
    Mailbox<std::shared_ptr<Connection>> kept;
  };
  auto refusing = std::make_shared<Refusing>();
  auto listener = Listener::anonymous();
  ASSERT_TRUE(listener);
  (*listener)->setDelegate(refusing);
  (*listener)->resume();

  Mailbox<Arguments> replies;
  auto client = hostSide();
  client->configure(Connection::create((*listener)->endpoint()));
  client->send("attachWithReply:", {}, into(replies));  // queued, so pending when the peer hangs up
  client->connection->resume();
  EXPECT_EQ(client->eventsThroughInvalidation(), (Events{"interrupted", "error 4097", "invalidated"}));
}

TEST_F(FailureTest, AMisbehavingPeerIsDroppedAndTheListenerCarriesOn) {
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"not JSON", "hello\n"},
      {"not an object", "[1,2]\n"},
      {"a line over 1 MiB", std::string((1 << 20) + 2, 'x')},
      {"unknown selector", R"({"m":"openURL:again:","a":["a","b"]})" "\n"},
      {"wrong argument count", R"({"m":"updateToken:expiresAt:","a":["tok"]})" "\n"},
      {"wrong argument type", R"({"m":"updateToken:expiresAt:","a":["tok",[1]]})" "\n"},
      {"request without its reply id", R"({"m":"attachWithReply:","a":[]})" "\n"},
      {"reply id on a one-way message", R"({"m":"signalChangedEnumerators","a":[],"r":3})" "\n"},
      {"reply to no request", R"({"r":99,"a":["x"]})" "\n"},
  };
  auto server = extensionSide();
  Link link(server, nullptr);
  for (const auto& c : cases) {
    auto peer = connectTo(link.listener->endpoint().socketPath);
    ASSERT_TRUE(peer) << c.name;
    EXPECT_EQ(server->events.take(), "accepted") << c.name;
    writeAll(peer->get(), c.bytes);
    EXPECT_EQ(server->eventsThroughInvalidation(), Events{"invalidated"}) << c.name;
    EXPECT_TRUE(closedByPeer(peer->get())) << c.name;
  }

  Mailbox<Arguments> replies;
  auto good = hostSide();
  good->configure(Connection::create(link.listener->endpoint()));
  good->connection->resume();
  EXPECT_EQ(server->events.take(), "accepted");
  good->send("updateToken:expiresAt:", {"tok", 1.0});
  EXPECT_EQ(server->events.take(), "message updateToken:expiresAt:");
  good->connection->invalidate();
  EXPECT_TRUE(good->waitUntilEnded());
}

TEST_F(FailureTest, InvalidatingInsideAMessageHandlerStopsDeliveryAtOnce) {
  auto server = extensionSide();
  server->onMessage = [&](const std::string&, const Arguments&, ReplyBlock) { server->connection->invalidate(); };
  auto client = hostSide();
  Link link(server, client);

  for (int i = 0; i < 3; ++i) client->send("updateToken:expiresAt:", {"tok" + std::to_string(i), 1.0});
  EXPECT_EQ(server->eventsThroughInvalidation(), (Events{"message updateToken:expiresAt:", "invalidated"}));
  EXPECT_EQ(client->eventsThroughInvalidation(), (Events{"interrupted", "invalidated"}));
}

TEST_F(FailureTest, InvalidatingInsideAReplyBlockOrErrorHandlerDoesNotDeadlock) {
  auto server = extensionSide([](const std::string& selector, const Arguments&, ReplyBlock reply) {
    if (selector == "attachWithReply:") reply({"id"});
  });
  auto client = hostSide();
  Link link(server, client);
  auto connection = client->connection;

  Mailbox<std::string> seen;
  connection->remoteObjectProxyWithErrorHandler([](Error) {}).send("attachWithReply:", {}, [&](Arguments) {
    seen.put("replied");
    connection->invalidate();
  });
  EXPECT_EQ(seen.take(), "replied");
  EXPECT_TRUE(client->waitUntilEnded());

  // After the end: the error handler runs on the sending thread and may invalidate again.
  connection->remoteObjectProxyWithErrorHandler([&](Error error) {
    connection->invalidate();
    seen.put("error " + std::to_string(error.code));
  }).send("attachWithReply:", {}, [](Arguments) {});
  EXPECT_EQ(seen.take(), "error 4099");
}

TEST_F(FailureTest, InvalidatingInsideTheEndingHandlersDoesNotDeadlock) {
  auto server = extensionSide();
  auto client = hostSide();
  Link link(server, client);
  auto connection = client->connection;
  Mailbox<std::string> seen;
  connection->setInterruptionHandler([&] {
    connection->invalidate();
    seen.put("interrupted");
  });
  connection->setInvalidationHandler([&] {
    connection->invalidate();
    seen.put("invalidated");
  });

  server->connection->invalidate();
  EXPECT_EQ(seen.takeThrough("invalidated"), (Events{"interrupted", "invalidated"}));
  client->connection.reset();  // its handlers are no longer the side's
}

}  // namespace
}  // namespace ostrel::xpc
