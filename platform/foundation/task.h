#pragma once

#include <functional>
#include <memory>
#include <stop_token>

namespace ostrel {

// An unstructured task: the body runs on a thread of its own, at once, and
// observes the stop token; cancel() requests the stop. Nobody waits for a
// task: its body reports through the callbacks it captured.
class Task {
 public:
  static std::shared_ptr<Task> start(std::function<void(std::stop_token)> body);
  void cancel() { stop_.request_stop(); }
  bool isCancelled() const { return stop_.stop_requested(); }

 private:
  Task() = default;
  std::stop_source stop_;
};

}  // namespace ostrel
