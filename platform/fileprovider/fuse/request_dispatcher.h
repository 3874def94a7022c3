#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>

namespace ostrel::fileprovider {

// Runs jobs that may wait long (for the extension, for the network) on
// threads of their own, so that the threads that took them go on at once.
// A thread is made whenever a job arrives and none is idle, up to `mostThreads`
// (then jobs queue); a thread idle for a while ends. Threads have small stacks:
// thousands of waiting jobs cost little memory. stop() waits for every job,
// and a job posted after it runs at once on the caller's thread.
class RequestDispatcher {
 public:
  explicit RequestDispatcher(size_t mostThreads = 4096);
  ~RequestDispatcher();
  RequestDispatcher(const RequestDispatcher&) = delete;
  RequestDispatcher& operator=(const RequestDispatcher&) = delete;

  void post(std::function<void()> job);
  void stop();

 private:
  static void* start(void* dispatcher);
  void work();

  const size_t mostThreads_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::condition_variable finished_;
  std::deque<std::function<void()>> jobs_;
  size_t threads_ = 0;
  size_t idle_ = 0;
  bool stopping_ = false;
};

}  // namespace ostrel::fileprovider
