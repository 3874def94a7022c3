#include "word-actions/app_delegate.h"

#include "platform/services/services.h"
#include "word-actions/lifetime.h"

namespace ostrel::wordactions {

using namespace std::chrono_literals;

AppDelegate::AppDelegate(asio::io_context& mainQueue, Workspace& workspace, ScheduledExits& exits)
    : mainQueue_(mainQueue), exits_(exits), provider(workspace, exits) {}

void AppDelegate::applicationDidFinishLaunching() {
  registerServicesProvider(mainQueue_, provider.services(), "OstrelWordActions");
  updateDynamicServices();
  // Launched on demand: the agent never outlives half a minute.
  exits_.exitAfter(lifetimeOfThisRun(30s));
}

}  // namespace ostrel::wordactions
