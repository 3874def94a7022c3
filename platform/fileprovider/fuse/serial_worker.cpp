#include "platform/fileprovider/fuse/serial_worker.h"

namespace ostrel::fileprovider {

SerialWorker::SerialWorker() : thread_([this] { queue_.run(); }) {}

SerialWorker::~SerialWorker() {
  stop();
}

void SerialWorker::post(std::function<void()> job) {
  queue_.post(std::move(job));
}

void SerialWorker::stop() {
  std::call_once(stopped_, [this] {
    queue_.finish([] {}, /*dropPending=*/true);
    thread_.join();
  });
}

}  // namespace ostrel::fileprovider
