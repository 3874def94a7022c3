#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace ostrel::xpc {

// Tasks run one at a time, in order, on the thread that calls run().
class SerialQueue {
 public:
  // Dropped once finish() has been called.
  void post(std::function<void()> task);
  // Discards the tasks not yet started, keeping the last one if it is queued.
  void discardQueued();
  // Queues the last task; with dropPending, tasks not yet started are discarded
  // first. Later calls are ignored.
  void finish(std::function<void()> last, bool dropPending);
  // Runs tasks until the last one has run. Holds no lock while a task runs.
  void run();

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::function<void()>> tasks_;
  bool finishing_ = false;
};

}  // namespace ostrel::xpc
