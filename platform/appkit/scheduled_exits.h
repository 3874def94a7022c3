#pragma once

#include <chrono>
#include <list>

#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>

namespace ostrel {

// An agent app ends itself: every call schedules an end of the main queue,
// and the first one due ends the program (exit status 0).
class ScheduledExits {
 public:
  explicit ScheduledExits(asio::io_context& mainQueue) : mainQueue_(mainQueue) {}
  ScheduledExits(const ScheduledExits&) = delete;
  ScheduledExits& operator=(const ScheduledExits&) = delete;

  void exitAfter(std::chrono::milliseconds delay);

 private:
  asio::io_context& mainQueue_;
  std::list<asio::steady_timer> timers_;
};

}  // namespace ostrel
