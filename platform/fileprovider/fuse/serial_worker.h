#pragma once

#include <functional>
#include <mutex>
#include <thread>

#include "platform/xpc/serial_queue.h"

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
  xpc::SerialQueue queue_;
  std::once_flag stopped_;
  std::thread thread_;
};

}  // namespace ostrel::fileprovider
