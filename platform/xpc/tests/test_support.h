#pragma once

#include "platform/foundation/testing/mailbox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/testing/log_capture.h"
#include "platform/xpc/xpc.h"

namespace ostrel::xpc::testing {

// Every wait in these tests ends by this bound; passing runs take milliseconds.
inline constexpr std::chrono::seconds kWait{5};

using ostrel::testing::Mailbox;

using MessageHandler = std::function<void(const std::string& selector, const Arguments&, ReplyBlock)>;

class LambdaObject : public ExportedObject {
 public:
  explicit LambdaObject(MessageHandler handler) : handler_(std::move(handler)) {}
  void invoke(const std::string& selector, const Arguments& arguments, ReplyBlock reply) override {
    handler_(selector, arguments, std::move(reply));
  }

 private:
  MessageHandler handler_;
};

// The two protocols of the drive's host link, as both programs declare them.
Interface extensionProtocol();  // attachWithReply:, updateToken:expiresAt:, signalChangedEnumerators
Interface hostProtocol();       // accessTokenWithReply:, openURL:

// One side of a link: what it exports and how it handles messages. What
// happens to its connection lands in `events`: "message <selector>" before
// each delivery, "interrupted", "error <code>" (for requests sent with `send`
// below) and "invalidated".
struct Side {
  Interface exported;
  Interface remote;
  MessageHandler onMessage = [](const std::string&, const Arguments&, ReplyBlock) {};
  Mailbox<std::string> events;
  std::shared_ptr<Connection> connection;

  void configure(const std::shared_ptr<Connection>& connection);
  // Sends through a proxy whose error handler records "error <code>".
  void send(const std::string& selector, Arguments arguments, ReplyBlock reply = {});
  std::vector<std::string> eventsThroughInvalidation() { return events.takeThrough("invalidated"); }
  // True once the invalidation handler of every connection the side had has run.
  bool waitUntilEnded() { return events.waitUntilSeen("invalidated", connections.load()); }

  std::atomic<size_t> connections{0};
};

// A fresh runtime directory for the test, named by OSTREL_XPC_DIR, with logs captured.
class XpcTest : public ::testing::Test {
 protected:
  XpcTest();
  ~XpcTest() override;

  std::filesystem::path base_;
  ostrel::testing::LogCapture logs_;
};

// A listener with a server side and a connected client side.
class Link {
 public:
  // Without a client, only the listener; the server side's events then start
  // with "accepted" for each connection.
  Link(std::shared_ptr<Side> server, std::shared_ptr<Side> client);
  ~Link();

  std::shared_ptr<Side> server;
  std::shared_ptr<Side> client;
  std::shared_ptr<Listener> listener;

 private:
  std::shared_ptr<ListenerDelegate> delegate_;
};

// Where the peer program is built.
std::string peerProgram();

// A side that plays the extension (exports extensionProtocol, calls hostProtocol), and the host.
std::shared_ptr<Side> extensionSide(MessageHandler onMessage = {});
std::shared_ptr<Side> hostSide(MessageHandler onMessage = {});

}  // namespace ostrel::xpc::testing
