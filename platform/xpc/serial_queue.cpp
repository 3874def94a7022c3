#include "platform/xpc/serial_queue.h"

namespace ostrel::xpc {

void SerialQueue::post(std::function<void()> task) {
  {
    std::lock_guard lock(mutex_);
    if (finishing_) return;
    tasks_.push_back(std::move(task));
  }
  ready_.notify_one();
}

void SerialQueue::discardQueued() {
  std::deque<std::function<void()>> dropped;  // destroyed outside the lock
  std::lock_guard lock(mutex_);
  dropped.swap(tasks_);
  if (finishing_ && !dropped.empty()) {
    tasks_.push_back(std::move(dropped.back()));
    dropped.pop_back();
  }
}

void SerialQueue::finish(std::function<void()> last, bool dropPending) {
  std::deque<std::function<void()>> dropped;  // destroyed outside the lock
  {
    std::lock_guard lock(mutex_);
    if (finishing_) return;
    finishing_ = true;
    if (dropPending) dropped.swap(tasks_);
    tasks_.push_back(std::move(last));
  }
  ready_.notify_one();
}

void SerialQueue::run() {
  for (;;) {
    std::function<void()> task;
    bool last;
    {
      std::unique_lock lock(mutex_);
      ready_.wait(lock, [&] { return !tasks_.empty(); });
      task = std::move(tasks_.front());
      tasks_.pop_front();
      last = finishing_ && tasks_.empty();
    }
    task();
    if (last) return;
  }
}

}  // namespace ostrel::xpc
