#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/appkit/scheduled_exits.h"
#include "platform/appkit/workspace.h"
#include "platform/usernotifications/user_notifications.h"

namespace ostrel::notifier {

// The agent: one payload per run, posted or asked for, and the click on a
// notification forwarded to the desktop application.
class AppDelegate : public UserNotificationCenterDelegate, public std::enable_shared_from_this<AppDelegate> {
 public:
  AppDelegate(UserNotificationCenter& center, Workspace& workspace, ScheduledExits& exits,
              std::vector<std::string> arguments);

  void applicationDidFinishLaunching();
  void didReceiveNotificationResponse(const NotificationResponse& response,
                                      std::function<void()> completionHandler) override;

 private:
  void post(std::string title, std::string body, std::optional<std::string> target, bool timeSensitive);
  void forward(const std::string& target);
  void exitAfter(std::chrono::milliseconds delay) { exits_.exitAfter(delay); }

  UserNotificationCenter& center_;
  Workspace& workspace_;
  ScheduledExits& exits_;
  std::vector<std::string> arguments_;
};

}  // namespace ostrel::notifier
