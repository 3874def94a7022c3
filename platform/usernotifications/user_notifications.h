#pragma once

#include <chrono>
#include <expected>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include <asio/io_context.hpp>

#include "platform/foundation/error.h"

namespace ostrel {

// UNAuthorizationOptions.
enum UserNotificationAuthorizationOptions : unsigned {
  authorizationOptionBadge = 1u << 0,
  authorizationOptionSound = 1u << 1,
  authorizationOptionAlert = 1u << 2,
};

// UNNotificationInterruptionLevel, with the framework's raw values.
enum class InterruptionLevel { passive = 0, active = 1, timeSensitive = 2, critical = 3 };

// UNNotificationSound; only the default sound is used.
enum class NotificationSound { defaultSound };

using NotificationUserInfo = std::map<std::string, std::string>;

struct NotificationContent {
  std::string title;
  std::string body;
  std::optional<NotificationSound> sound;
  InterruptionLevel interruptionLevel = InterruptionLevel::active;
  NotificationUserInfo userInfo;
};

// A request without a trigger: delivered at once.
struct NotificationRequest {
  std::string identifier;
  NotificationContent content;
};

// UNNotificationDefaultActionIdentifier: the partner clicked the notification itself.
inline constexpr const char* defaultActionIdentifier = "com.apple.UNNotificationDefaultActionIdentifier";

struct NotificationResponse {
  std::string actionIdentifier;
  std::string requestIdentifier;
  NotificationUserInfo userInfo;
};

namespace UserNotificationsError {
inline constexpr const char* domain = "UNErrorDomain";
enum Code : long {
  notificationsNotAllowed = 1,
};
}  // namespace UserNotificationsError

// UNUserNotificationCenterDelegate, response side only.
class UserNotificationCenterDelegate {
 public:
  virtual ~UserNotificationCenterDelegate() = default;
  // On the main queue. Call `completionHandler` once handled.
  virtual void didReceiveNotificationResponse(const NotificationResponse& response,
                                              std::function<void()> completionHandler) = 0;
};

using AuthorizationCompletion = std::function<void(bool granted, std::optional<Error> error)>;
using AddCompletion = std::function<void(std::optional<Error> error)>;

// UNUserNotificationCenter currentNotificationCenter for a program whose main
// queue is `mainQueue`; every completion and response runs on that queue.
class UserNotificationCenter {
 public:
  explicit UserNotificationCenter(asio::io_context& mainQueue);
  ~UserNotificationCenter();
  UserNotificationCenter(const UserNotificationCenter&) = delete;
  UserNotificationCenter& operator=(const UserNotificationCenter&) = delete;

  // Held weakly, as the framework does.
  void setDelegate(std::weak_ptr<UserNotificationCenterDelegate> delegate);
  void requestAuthorization(unsigned options, AuthorizationCompletion completion);
  void add(NotificationRequest request, AddCompletion completion);

  // Runs `handler` once no response to this process's notifications can
  // arrive any more without a response having arrived. Where the system
  // relaunches the application for a response that is at once; where a
  // response only reaches the running sender (Linux) it is when every posted
  // notification has been closed unanswered, when the session bus that would
  // carry a response has gone, or when `responseWindow` has passed (the
  // notifications still shown are then withdrawn).
  void whenNoResponseCanArrive(std::function<void()> handler);

  // How long a posted notification is waited on where responses only reach
  // the running sender.
  static constexpr std::chrono::minutes responseWindow{10};

 private:
  struct Impl;
  std::shared_ptr<Impl> impl_;
};

}  // namespace ostrel
