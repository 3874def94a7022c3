// A standard header before Asio's: Asio chooses how it allocates from the
// standard library's configuration, and every file must choose alike.
#include <cstdlib>

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>

#include "platform/appkit/workspace.h"
#include "word-actions/app_delegate.h"
#include "platform/appkit/scheduled_exits.h"

// OstrelWordActions: started for a Services entry, it forwards the entry to
// the desktop application and ends by itself with status 0.
int main() {
  asio::io_context mainQueue;
  auto keepRunning = asio::make_work_guard(mainQueue);
  ostrel::Workspace workspace;
  ostrel::ScheduledExits exits(mainQueue);
  ostrel::wordactions::AppDelegate delegate(mainQueue, workspace, exits);
  asio::post(mainQueue, [&delegate] { delegate.applicationDidFinishLaunching(); });
  mainQueue.run();
  return 0;
}
