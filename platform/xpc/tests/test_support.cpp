#include "platform/xpc/tests/test_support.h"

#include <gtest/gtest.h>
#include <stdlib.h>

namespace ostrel::xpc::testing {

Interface extensionProtocol() {
  return {"OstrelDriveExtensionXPC",
          {{"attachWithReply:", {0, true}}, {"updateToken:expiresAt:", {2, false}}, {"signalChangedEnumerators", {0, false}}}};
}

Interface hostProtocol() {
  return {"OstrelDriveHostXPC", {{"accessTokenWithReply:", {0, true}}, {"openURL:", {1, false}}}};
}

void Side::configure(const std::shared_ptr<Connection>& c) {
  if (c != connection) ++connections;
  connection = c;
  c->setExportedInterface(exported);
  c->setRemoteObjectInterface(remote);
  c->setExportedObject(std::make_shared<LambdaObject>(
      [this, handler = onMessage](const std::string& selector, const Arguments& arguments, ReplyBlock reply) {
        events.put("message " + selector);
        handler(selector, arguments, std::move(reply));
      }));
  c->setInterruptionHandler([this] { events.put("interrupted"); });
  // The last touch of the side: once "invalidated" is out, the test may destroy it.
  c->setInvalidationHandler([this] { events.put("invalidated"); });
}

void Side::send(const std::string& selector, Arguments arguments, ReplyBlock reply) {
  connection->remoteObjectProxyWithErrorHandler([this](Error error) {
    events.put("error " + std::to_string(error.code));
  }).send(selector, std::move(arguments), std::move(reply));
}

XpcTest::XpcTest() {
  char pattern[] = "/tmp/xpc-test-XXXXXX";
  base_ = ::mkdtemp(pattern);
  ::setenv("OSTREL_XPC_DIR", (base_ / "run").c_str(), 1);
}

XpcTest::~XpcTest() {
  ::unsetenv("OSTREL_XPC_DIR");
  std::error_code ignored;
  std::filesystem::remove_all(base_, ignored);
}

namespace {
class AcceptingDelegate : public ListenerDelegate {
 public:
  explicit AcceptingDelegate(std::shared_ptr<Side> side) : side_(std::move(side)) {}
  bool shouldAcceptNewConnection(std::shared_ptr<Connection> connection) override {
    side_->configure(connection);
    side_->events.put("accepted");  // before resume, so before any of its messages
    connection->resume();
    return true;
  }

 private:
  std::shared_ptr<Side> side_;
};
}  // namespace

Link::Link(std::shared_ptr<Side> serverSide, std::shared_ptr<Side> clientSide)
    : server(std::move(serverSide)), client(std::move(clientSide)) {
  auto made = Listener::anonymous();
  if (!made) {
    ADD_FAILURE() << made.error().localizedDescription();
    return;
  }
  listener = *made;
  delegate_ = std::make_shared<AcceptingDelegate>(server);
  listener->setDelegate(delegate_);
  listener->resume();
  if (!client) return;
  client->configure(Connection::create(listener->endpoint()));
  client->connection->resume();
  EXPECT_EQ(server->events.take(), "accepted");
}

Link::~Link() {
  // Invalidation handlers refer to the sides; wait for them before the sides may go.
  for (auto* side : {server.get(), client.get()}) {
    if (!side || !side->connection) continue;
    side->connection->invalidate();
    EXPECT_TRUE(side->waitUntilEnded());
  }
  if (listener) listener->invalidate();
}

std::string peerProgram() {
  return XPC_TEST_PEER;
}

std::shared_ptr<Side> extensionSide(MessageHandler onMessage) {
  auto side = std::make_shared<Side>();
  side->exported = extensionProtocol();
  side->remote = hostProtocol();
  if (onMessage) side->onMessage = std::move(onMessage);
  return side;
}

std::shared_ptr<Side> hostSide(MessageHandler onMessage) {
  auto side = std::make_shared<Side>();
  side->exported = hostProtocol();
  side->remote = extensionProtocol();
  if (onMessage) side->onMessage = std::move(onMessage);
  return side;
}

}  // namespace ostrel::xpc::testing
