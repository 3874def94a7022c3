// A standard header before Asio's: Asio chooses how it allocates from the
// standard library's configuration, and every file must choose alike.
#include <cstdlib>

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <chrono>

#include "platform/foundation/dispatch_queue.h"

namespace ostrel {

struct MainQueue::Impl {
  asio::io_context context{1};
  // The queue waits for work rather than returning when it runs dry.
  asio::executor_work_guard<asio::io_context::executor_type> keepRunning = asio::make_work_guard(context);
};

MainQueue::MainQueue() : impl_(std::make_unique<Impl>()) {}

MainQueue::~MainQueue() = default;

void MainQueue::async(std::function<void()> work) {
  asio::post(impl_->context, std::move(work));
}

void MainQueue::asyncAfter(double seconds, std::function<void()> work) {
  const auto delay = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(seconds > 0 ? seconds : 0));
  // The timer keeps itself alive through its own handler.
  auto timer = std::make_shared<asio::steady_timer>(impl_->context, delay);
  timer->async_wait([timer, work = std::move(work)](const std::error_code& error) {
    if (!error) work();
  });
}

double MainQueue::now() const {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

void MainQueue::run() {
  impl_->context.run();
}

void MainQueue::stop() {
  impl_->context.stop();
}

}  // namespace ostrel
