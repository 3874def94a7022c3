#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <bit>
#include <limits>
#include <thread>

#include "platform/xpc/tests/test_support.h"
#include "platform/xpc/unix_socket_linux.h"

namespace ostrel::xpc {
namespace {

using namespace testing;

class ConnectionTest : public XpcTest {};

ReplyBlock into(Mailbox<Arguments>& box) {
  return [&box](Arguments arguments) { box.put(std::move(arguments)); };
}

TEST_F(ConnectionTest, RequestsAndRepliesTravelBothWays) {
  Mailbox<Arguments> replies;
  auto server = extensionSide([](const std::string& selector, const Arguments&, ReplyBlock reply) {
    if (selector == "attachWithReply:") reply({"local.ostrel.drive.extension"});
  });
  auto client = hostSide([](const std::string& selector, const Arguments&, ReplyBlock reply) {
    if (selector == "accessTokenWithReply:") reply({"tok", 1700000000.0});
  });
  Link link(server, client);

  client->send("attachWithReply:", {}, into(replies));
  EXPECT_EQ(replies.take(), Arguments{"local.ostrel.drive.extension"});
  server->send("accessTokenWithReply:", {}, into(replies));
  EXPECT_EQ(replies.take(), (Arguments{"tok", 1700000000.0}));

  EXPECT_EQ(server->connection->processIdentifier(), ::getpid());
  EXPECT_EQ(client->connection->processIdentifier(), ::getpid());
  auto proxy = client->connection->remoteObjectProxyWithErrorHandler({});
  EXPECT_TRUE(proxy.conformsTo("OstrelDriveExtensionXPC"));
  EXPECT_FALSE(proxy.conformsTo("OstrelDriveHostXPC"));
}

TEST_F(ConnectionTest, AReplyMayComeMuchLaterFromAnotherThreadWhileMessagesFlow) {
  Mailbox<Arguments> replies;
  Mailbox<ReplyBlock> held;
  auto server = extensionSide([&](const std::string&, const Arguments&, ReplyBlock reply) {
    if (reply) held.put(std::move(reply));
  });
  auto client = hostSide();
  Link link(server, client);

  client->send("attachWithReply:", {}, into(replies));
  auto reply = held.take();
  ASSERT_TRUE(reply);
  client->send("updateToken:expiresAt:", {"tok", 1.0});
  EXPECT_EQ(server->events.takeThrough("message updateToken:expiresAt:").back(), "message updateToken:expiresAt:");

  std::thread([answer = *reply] {
    answer({"late"});
    answer({"twice"});  // ignored: a second reply would be garbage to the peer
  }).join();
  EXPECT_EQ(replies.take(), Arguments{"late"});

  client->send("attachWithReply:", {}, into(replies));
  auto next = held.take();
  ASSERT_TRUE(next);
  (*next)({"next"});
  EXPECT_EQ(replies.take(), Arguments{"next"});
  EXPECT_EQ(replies.size(), 0u);
}

TEST_F(ConnectionTest, OneWayMessagesArriveInOrderOneAtATimeOnAConnectionThread) {
  constexpr int count = 1000;
  Mailbox<std::pair<int64_t, std::thread::id>> seen;
  std::atomic<int> inside{0};
  std::atomic<bool> overlapped{false};
  auto server = extensionSide([&](const std::string&, const Arguments& arguments, ReplyBlock) {
    if (inside.fetch_add(1) != 0) overlapped = true;
    seen.put({std::stoll(std::get<std::string>(arguments.at(0))), std::this_thread::get_id()});
    inside.fetch_sub(1);
  });
  auto client = hostSide();
  Link link(server, client);

  for (int i = 0; i < count; ++i) client->send("updateToken:expiresAt:", {std::to_string(i), i + 0.5});
  std::optional<std::thread::id> deliveryThread;
  for (int64_t i = 0; i < count; ++i) {
    auto next = seen.take();
    ASSERT_TRUE(next) << "message " << i << " never arrived";
    ASSERT_EQ(next->first, i);
    if (!deliveryThread) deliveryThread = next->second;
    EXPECT_EQ(next->second, *deliveryThread);
  }
  EXPECT_NE(*deliveryThread, std::this_thread::get_id());
  EXPECT_FALSE(overlapped);
}

TEST_F(ConnectionTest, EveryArgumentTypeArrivesUnchanged) {
  const Interface echo{"Echo", {{"echo:", {1, true}}}};
  auto server = std::make_shared<Side>();
  server->exported = echo;
  server->onMessage = [](const std::string&, const Arguments& arguments, ReplyBlock reply) { reply(arguments); };
  auto client = std::make_shared<Side>();
  client->remote = echo;
  Mailbox<Arguments> replies;
  Link link(server, client);

  std::string big;
  while (big.size() < 300 * 1024) big += "\u00e9\u2713\U0001F680\n";  // spans several reads
  const Arguments values = {
      true, false, int64_t{0}, std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max(),
      1700000000.0, 0.1, -0.0, 2.0, 1e300, std::numeric_limits<double>::denorm_min(), std::string(),
      "caf\u00e9 \u2713 \U0001F680", "line\nbreak\r\n\"quoted\" \\ \t", std::string("nul\0inside", 10), big,
  };
  for (const auto& value : values) client->send("echo:", {value}, into(replies));
  for (const auto& value : values) {
    auto back = replies.take();
    ASSERT_TRUE(back);
    ASSERT_EQ(back->size(), 1u);
    ASSERT_EQ(back->at(0).index(), value.index());
    if (const double* number = std::get_if<double>(&value)) {
      EXPECT_EQ(std::bit_cast<uint64_t>(std::get<double>(back->at(0))), std::bit_cast<uint64_t>(*number));
    } else {
      EXPECT_EQ(back->at(0), value);
    }
  }
}

TEST_F(ConnectionTest, AMessageTheInterfaceDoesNotAllowFailsAtOnceAndTheConnectionCarriesOn) {
  Mailbox<Arguments> replies;
  auto server = extensionSide([](const std::string&, const Arguments&, ReplyBlock reply) {
    if (reply) reply({"ok"});
  });
  auto client = hostSide();
  Link link(server, client);

  const struct {
    const char* selector;
    Arguments arguments;
    bool withReply;
  } misuses[] = {
      {"accessTokenWithReply:", {}, true},                                   // the other side's selector
      {"updateToken:expiresAt:", {"tok"}, false},                            // too few arguments
      {"attachWithReply:", {}, false},                                       // reply block missing
      {"signalChangedEnumerators", {}, true},                                // reply block not wanted
      {"updateToken:expiresAt:", {"tok", std::numeric_limits<double>::quiet_NaN()}, false},
      {"updateToken:expiresAt:", {std::string((1 << 20) + 1, 't'), 1.0}, false},  // longer than a line may be
  };
  for (const auto& misuse : misuses) {
    client->send(misuse.selector, misuse.arguments, misuse.withReply ? into(replies) : ReplyBlock());
    EXPECT_EQ(client->events.size(), 1u) << misuse.selector << ": the error handler runs before send returns";
    EXPECT_EQ(client->events.take(), "error 4866") << misuse.selector;
  }
  client->send("attachWithReply:", {}, into(replies));
  EXPECT_EQ(replies.take(), Arguments{"ok"});
  EXPECT_EQ(replies.size(), 0u);
}

TEST_F(ConnectionTest, SendsDoNotWaitForAPeerThatDoesNotRead) {
  // A listener of ours that accepts nothing and reads nothing.
  const std::string path = (base_ / "mute.sock").string();
  auto mute = listenAt(path);
  ASSERT_TRUE(mute);
  auto client = hostSide();
  client->configure(Connection::create({path}));
  client->connection->resume();

  // Four times what the socket buffers, so most of it must wait in the connection.
  int socketBuffer = 0;
  socklen_t length = sizeof(socketBuffer);
  ASSERT_EQ(::getsockopt(mute->get(), SOL_SOCKET, SO_SNDBUF, &socketBuffer, &length), 0);
  const size_t chunk = 256 * 1024;
  const size_t chunks = 4 * static_cast<size_t>(socketBuffer) / chunk + 1;

  auto done = std::make_shared<Mailbox<bool>>();
  std::thread sender([client, done, chunk, chunks] {
    const std::string text(chunk, 'x');
    for (size_t i = 0; i < chunks; ++i) client->send("updateToken:expiresAt:", {text, 1.0});
    done->put(true);
  });
  const bool finished = done->take().has_value();
  finished ? sender.join() : sender.detach();
  ASSERT_TRUE(finished) << "send blocked on the peer";
  client->connection->invalidate();
  EXPECT_EQ(client->eventsThroughInvalidation(), std::vector<std::string>{"invalidated"});
}

// An exported object that keeps its own connection, as the drive's objects do.
class SelfOwningObject : public ExportedObject {
 public:
  explicit SelfOwningObject(Mailbox<std::string>& released) : released_(released) {}
  ~SelfOwningObject() override { released_.put("released"); }
  void invoke(const std::string&, const Arguments&, ReplyBlock) override {}
  std::shared_ptr<Connection> connection;

 private:
  Mailbox<std::string>& released_;
};

TEST_F(ConnectionTest, AnEndedConnectionLetsGoOfItsObjectAndHandlers) {
  Mailbox<std::string> released;
  auto server = extensionSide();
  Link link(server, nullptr);

  auto connection = Connection::create(link.listener->endpoint());
  auto object = std::make_shared<SelfOwningObject>(released);
  object->connection = connection;
  connection->setExportedObject(object);
  connection->setInvalidationHandler([connection, &released] { released.put("invalidated"); });
  connection->resume();
  object.reset();
  connection.reset();  // the cycles above now keep it; only invalidation may free it
  EXPECT_EQ(server->events.take(), "accepted");

  server->connection->invalidate();
  EXPECT_EQ(released.take(), "invalidated");
  EXPECT_EQ(released.take(), "released");
}

}  // namespace
}  // namespace ostrel::xpc
