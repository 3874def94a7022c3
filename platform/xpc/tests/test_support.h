#pragma once

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

// Values handed from connection threads to the test, with bounded waits.
template <class T>
class Mailbox {
 public:
  // Notifies under the lock: a taker may destroy the mailbox as soon as it has its value.
  void put(T value) {
    std::lock_guard lock(mutex_);
    history_.push_back(value);
    items_.push_back(std::move(value));
    ready_.notify_all();
  }
  std::optional<T> take() {
    std::unique_lock lock(mutex_);
    if (!ready_.wait_for(lock, kWait, [&] { return !items_.empty(); })) return std::nullopt;
    T value = std::move(items_.front());
    items_.pop_front();
    return value;
  }
  // Takes values until `last` arrives; the values taken, `last` included.
  std::vector<T> takeThrough(const T& last) {
    std::vector<T> seen;
    while (auto value = take()) {
      seen.push_back(*value);
      if (*value == last) break;
    }
    return seen;
  }
  // True once `value` has been put `times` times, taken or not.
  bool waitUntilSeen(const T& value, size_t times = 1) {
    std::unique_lock lock(mutex_);
    return ready_.wait_for(
        lock, kWait, [&] { return static_cast<size_t>(std::count(history_.begin(), history_.end(), value)) >= times; });
  }
  size_t size() const {
    std::lock_guard lock(mutex_);
    return items_.size();
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<T> items_;
  std::vector<T> history_;
};

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
