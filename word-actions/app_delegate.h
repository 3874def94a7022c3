#pragma once

// A standard header before Asio's: Asio chooses how it allocates from the
// standard library's configuration, and every file must choose alike.
#include <chrono>

#include <asio/io_context.hpp>

#include "platform/appkit/workspace.h"
#include "platform/appkit/scheduled_exits.h"
#include "word-actions/service_provider.h"

namespace ostrel::wordactions {

class AppDelegate {
 public:
  AppDelegate(asio::io_context& mainQueue, Workspace& workspace, ScheduledExits& exits);

  void applicationDidFinishLaunching();

 private:
  asio::io_context& mainQueue_;
  ScheduledExits& exits_;
  ServiceProvider provider;
};

}  // namespace ostrel::wordactions
