#include <memory>
#include <string>
#include <vector>

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>

#include "notifier/app_delegate.h"
#include "platform/appkit/scheduled_exits.h"
#include "platform/appkit/workspace.h"
#include "platform/usernotifications/user_notifications.h"

// OstrelNotifier '<payload JSON>': one notification or permission request per
// run; prints nothing and always ends by itself with status 0.
int main(int argc, char** argv) {
  asio::io_context mainQueue;
  auto keepRunning = asio::make_work_guard(mainQueue);
  ostrel::Workspace workspace;
  ostrel::UserNotificationCenter center(mainQueue);
  ostrel::ScheduledExits exits(mainQueue);
  auto delegate = std::make_shared<ostrel::notifier::AppDelegate>(center, workspace, exits,
                                                                  std::vector<std::string>(argv + 1, argv + argc));
  asio::post(mainQueue, [&delegate] { delegate->applicationDidFinishLaunching(); });
  mainQueue.run();
  return 0;
}
