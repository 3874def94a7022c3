#include "platform/appkit/scheduled_exits.h"

namespace ostrel {

void ScheduledExits::exitAfter(std::chrono::milliseconds delay) {
  auto& timer = timers_.emplace_back(mainQueue_, delay);
  timer.async_wait([this](std::error_code error) {
    if (!error) mainQueue_.stop();
  });
}

}  // namespace ostrel
