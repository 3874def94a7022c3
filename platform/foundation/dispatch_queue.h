#pragma once

#include <functional>
#include <memory>

namespace ostrel {

// A serial queue of work: the main queue of a program, or a test's queue
// whose time only moves when the test says so.
class DispatchQueue {
 public:
  virtual ~DispatchQueue() = default;
  // Runs `work` on the queue soon, after the work already queued. Safe from any thread.
  virtual void async(std::function<void()> work) = 0;
  // Runs `work` on the queue once `seconds` have passed. Safe from any thread.
  virtual void asyncAfter(double seconds, std::function<void()> work) = 0;
  // The time as the queue sees it: seconds since 1 January 1970 (UTC).
  virtual double now() const = 0;
};

// The main queue: the main thread's run loop and its timers. The wall clock
// is the system's.
class MainQueue final : public DispatchQueue {
 public:
  MainQueue();
  ~MainQueue() override;
  MainQueue(const MainQueue&) = delete;
  MainQueue& operator=(const MainQueue&) = delete;

  void async(std::function<void()> work) override;
  void asyncAfter(double seconds, std::function<void()> work) override;
  double now() const override;

  // Runs queued work and timers on the calling thread until stop(); a
  // program's main thread calls it last and never comes back.
  void run();
  // Makes run() return once the work in hand is done. Safe from any thread.
  void stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace ostrel
