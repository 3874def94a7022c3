#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace ostrel::fileprovider {

// One thread that runs posted jobs in order, so that work a request started
// (sending a save, telling the kernel what changed) never holds up the
// request's answer. stop() finishes the job under way and drops the rest.
class SerialWorker {
 public:
  SerialWorker();
  ~SerialWorker();
  SerialWorker(const SerialWorker&) = delete;
  SerialWorker& operator=(const SerialWorker&) = delete;

  // Ignored once stopped.
  void post(std::function<void()> job);
  void stop();

 private:
  void run();

  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::function<void()>> jobs_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace ostrel::fileprovider
