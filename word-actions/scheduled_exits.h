#pragma once

#include <chrono>
#include <list>

#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>

namespace ostrel::wordactions {

// The agent ends itself: every call schedules an end of the main queue,
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

// Tests cannot wait half a minute for every case. When
// OSTREL_TEST_HOOK_WORD_ACTIONS_LIFETIME_MS holds a number of milliseconds
// smaller than `lifetime`, that is used instead; it can only shorten it.
std::chrono::milliseconds lifetimeOfThisRun(std::chrono::milliseconds lifetime);

}  // namespace ostrel::wordactions
