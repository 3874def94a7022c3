#include "platform/foundation/task.h"

#include <thread>

namespace ostrel {

std::shared_ptr<Task> Task::start(std::function<void(std::stop_token)> body) {
  std::shared_ptr<Task> task(new Task());
  std::thread([token = task->stop_.get_token(), body = std::move(body)] { body(token); }).detach();
  return task;
}

}  // namespace ostrel
