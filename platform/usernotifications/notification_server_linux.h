#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <asio/io_context.hpp>

#include "platform/foundation/error.h"
#include "platform/usernotifications/bus_linux.h"

namespace ostrel::usernotifications_linux {

// One org.freedesktop.Notifications.Notify call.
struct ServerNotification {
  std::string appName;
  std::string summary;
  std::string body;
  std::vector<std::string> actions;  // key, label, key, label, ...
  uint8_t urgency = 1;               // 0 low, 1 normal, 2 critical
  std::optional<std::string> soundName;
};

// The session's notification server, reached over the freedesktop
// Notifications interface. Replies and signals run on the queue it was made on.
class NotificationServer {
 public:
  struct Signals {
    std::function<void(uint32_t id, const std::string& actionKey)> actionInvoked;
    std::function<void(uint32_t id, uint32_t reason)> notificationClosed;
    // The session bus went away: no reply or signal comes any more.
    std::function<void()> connectionLost;
  };

  static std::expected<std::unique_ptr<NotificationServer>, Error> connect(asio::io_context& queue, Signals signals);
  NotificationServer(const NotificationServer&) = delete;
  NotificationServer& operator=(const NotificationServer&) = delete;
  ~NotificationServer();

  void getCapabilities(std::function<void(std::expected<std::vector<std::string>, Error>)> reply);
  void notify(const ServerNotification& notification, std::function<void(std::expected<uint32_t, Error>)> reply);
  void closeNotification(uint32_t id);

 private:
  using ReplyHandler = std::function<void(std::expected<sd_bus_message*, Error>)>;
  struct PendingCall {
    NotificationServer* owner;
    BusSlot slot;
    ReplyHandler onReply;
  };

  NotificationServer(asio::io_context& queue, BusConnection bus, Signals signals);
  std::expected<void, Error> subscribe();
  void call(BusMessage message, ReplyHandler onReply);
  static int replied(sd_bus_message* reply, void* userdata, sd_bus_error*);
  static int actionInvoked(sd_bus_message* message, void* userdata, sd_bus_error*);
  static int notificationClosed(sd_bus_message* message, void* userdata, sd_bus_error*);

  asio::io_context& queue_;
  BusConnection bus_;
  Signals signals_;
  BusSlot actionMatch_;
  BusSlot closedMatch_;
  std::list<PendingCall> pending_;
  std::unique_ptr<BusDispatcher> dispatcher_;
};

}  // namespace ostrel::usernotifications_linux
