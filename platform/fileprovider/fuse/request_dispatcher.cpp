#include "platform/fileprovider/fuse/request_dispatcher.h"

#include <pthread.h>

#include <chrono>

namespace ostrel::fileprovider {

namespace {

// Enough for the deepest call a request makes; the default would be 8 MiB.
constexpr size_t stackBytes = 512 * 1024;
constexpr auto idleLifetime = std::chrono::seconds(30);

}  // namespace

RequestDispatcher::RequestDispatcher(size_t mostThreads) : mostThreads_(mostThreads ? mostThreads : 1) {}

RequestDispatcher::~RequestDispatcher() {
  stop();
}

void RequestDispatcher::post(std::function<void()> job) {
  {
    std::unique_lock lock(mutex_);
    if (!stopping_) {
      jobs_.push_back(std::move(job));
      if (idle_ >= jobs_.size() || threads_ >= mostThreads_) {
        ready_.notify_one();
        return;
      }
      pthread_attr_t attributes;
      pthread_attr_init(&attributes);
      pthread_attr_setstacksize(&attributes, stackBytes);
      pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
      pthread_t thread;
      if (pthread_create(&thread, &attributes, &RequestDispatcher::start, this) == 0) ++threads_;
      pthread_attr_destroy(&attributes);
      // No thread could be made: a running one takes the job when it is free.
      if (threads_ > 0) return;
      job = std::move(jobs_.back());
      jobs_.pop_back();
    }
  }
  job();
}

void* RequestDispatcher::start(void* dispatcher) {
  static_cast<RequestDispatcher*>(dispatcher)->work();
  return nullptr;
}

void RequestDispatcher::work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    ++idle_;
    const bool woken = ready_.wait_for(lock, idleLifetime, [&] { return stopping_ || !jobs_.empty(); });
    --idle_;
    if (jobs_.empty() && (stopping_ || !woken)) break;
    auto job = std::move(jobs_.front());
    jobs_.pop_front();
    lock.unlock();
    job();
    lock.lock();
  }
  if (--threads_ == 0) finished_.notify_all();
}

void RequestDispatcher::stop() {
  std::unique_lock lock(mutex_);
  stopping_ = true;
  ready_.notify_all();
  finished_.wait(lock, [&] { return threads_ == 0; });
}

}  // namespace ostrel::fileprovider
